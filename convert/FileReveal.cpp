#include "convert/FileReveal.h"

#include "diagnostics/DiagnosticsLogger.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace vorlik::convert {

bool FileReveal::openContainingFolder(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

void FileReveal::reveal(const QString &path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Asked without looking first: a bus without a file manager answers at once with an error.
    if (!bus.isConnected()) {
        openContainingFolder(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       serviceName, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [path](QDBusPendingCallWatcher *done) {
        const QDBusPendingReply<> reply = *done;
        if (reply.isError()) {
            diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("ui"),
                                                         QStringLiteral("file manager could not show the file: ")
                                                             + reply.error().message());
            openContainingFolder(path);
        }
        done->deleteLater();
    });
}

} // namespace vorlik::convert
