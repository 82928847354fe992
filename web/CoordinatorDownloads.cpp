// Downloads the tab's page starts (and PDFs and types the view cannot show): saved into the
// Downloads folder under a free name; a failure leaves no file behind and tells the user.
#include "web/Coordinator.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/AppPaths.h"
#include "web/DesktopNotification.h"
#include "web/DownloadDestination.h"
#include "web/DownloadInterruption.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <QWebEngineDownloadRequest>

#include <memory>

namespace vorlik::web {

namespace {

QString pathOf(const QWebEngineDownloadRequest *download)
{
    return QDir(download->downloadDirectory()).filePath(download->downloadFileName());
}

} // namespace

void Coordinator::handleDownload(QWebEngineDownloadRequest *download)
{
    // The profile reports the downloads of both tabs; each tab takes its own.
    if (!m_page || download->page() != m_page || download->state() != QWebEngineDownloadRequest::DownloadRequested)
        return;
    const QString requestName = download->url().fileName();
    const QString finishedName = requestName.isEmpty() ? QStringLiteral("?") : requestName;

    const std::optional<QString> path = DownloadDestination::reserve(platform::AppPaths::downloads(), download->suggestedFileName());
    if (!path) {
        download->cancel();
        downloadFailed(QStringLiteral("The download could not be saved in the Downloads folder."), {});
        return;
    }
    const QFileInfo destination(*path);
    download->setDownloadDirectory(destination.absolutePath());
    download->setDownloadFileName(destination.fileName());

    // A broken transfer ends the download: the engine would retry it by itself, each time as a
    // new download into a file of another name, and leave the pieces behind.
    auto interruption = std::make_shared<QString>();
    connect(download, &QWebEngineDownloadRequest::interruptReasonChanged, this, [download, interruption] {
        // Only the first reason counts: the cancel below reports one of its own.
        if (download->interruptReason() == QWebEngineDownloadRequest::NoReason || download->isFinished()
            || !interruption->isEmpty())
            return;
        *interruption = DownloadInterruption::describe(download->interruptReason(), download->interruptReasonString());
        download->cancel();
    });
    connect(download, &QWebEngineDownloadRequest::stateChanged, this,
            [this, download, finishedName, interruption, reserved = *path](QWebEngineDownloadRequest::DownloadState state) {
                switch (state) {
                case QWebEngineDownloadRequest::DownloadCompleted:
                    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("download"), QStringLiteral("finished: ") + finishedName);
                    break;
                case QWebEngineDownloadRequest::DownloadInterrupted:
                    downloadFailed(DownloadInterruption::describe(download->interruptReason(), download->interruptReasonString()),
                                   {reserved, pathOf(download)});
                    break;
                case QWebEngineDownloadRequest::DownloadCancelled:
                    downloadFailed(interruption->isEmpty() ? DownloadInterruption::describe(40, {}) : *interruption,
                                   {reserved, pathOf(download)});
                    break;
                default:
                    break;
                }
            });
    download->accept();
}

void Coordinator::downloadFailed(const QString &description, const QStringList &files)
{
    // The file was made for this download (reserved empty, then written): nothing of it stays.
    for (const QString &file : files) {
        QFile::remove(file);
        QFile::remove(file + QStringLiteral(".download")); // the engine's file while it writes
    }
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("download"), QStringLiteral("failed: ") + description);
    DesktopNotification{QStringLiteral("vorlik-download-") + QUuid::createUuid().toString(QUuid::WithoutBraces),
                        QStringLiteral("Vorlik download failed"), description}
        .post();
}

} // namespace vorlik::web
