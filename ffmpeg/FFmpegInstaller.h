#pragma once
// The logic of the ffmpeg install sheet: installs a working ffmpeg into the tools folder by
// downloading the service's build (checked against its SHA-256 before it is unpacked, with a
// second download location when the first fails), by copying a program the user picks, or by
// adopting a Homebrew ffmpeg. Every way ends in FFmpegLocator::adoptBinary. The sheet binds to
// the properties and texts here; installed(program) is its "on installed" callback and
// dismissRequested() closes it. Main thread.
#include "ffmpeg/InstallPhase.h"

#include <QByteArray>
#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

namespace vorlik::ffmpeg {

class FFmpegInstaller : public QObject {
    Q_OBJECT
    Q_PROPERTY(vorlik::ffmpeg::InstallPhase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY phaseChanged)
    Q_PROPERTY(QString installed READ installedProgram NOTIFY installedChanged)
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged)

public:
    // The service's download comes from the service origin (APIClient::baseURL), the second
    // source from ServiceConfig::ffmpegFallbackZipURL(); both are read here, once.
    explicit FFmpegInstaller(QObject *parent = nullptr);

    InstallPhase phase() const { return m_phase; }
    // The sheet's line for the phase: "Downloading ffmpeg…", "Installing into …/FFmpegTools…",
    // the failure text, or nothing while idle.
    QString statusText() const;
    QString installedProgram() const { return m_installed; } // empty until something is installed
    bool isBusy() const { return m_busy; }

    QUrl primaryZipURL() const { return m_primaryZipURL; }
    QUrl primarySumURL() const { return m_primarySumURL; }
    QUrl fallbackZipURL() const { return m_fallbackZipURL; }
    QUrl fallbackSumURL() const; // the archive's URL text + ".sha256"

    // The download install. Returns the running task, which callers may await or drop (it
    // runs on either way); ignored while another install runs.
    QCoro::Task<void> installRecommended();
    // Copies a program the user chose (or the Homebrew one) into the tools folder.
    QCoro::Task<void> adopt(QString program);
    QCoro::Task<void> addHomebrew() { return adopt(homebrewProgram()); }

    // GET through the shared network session; the body when the answer is exactly 200, else
    // InstallError code 2 naming the URL's last path component. A transfer that fails is the
    // network's own error.
    static QCoro::Task<QByteArray> download(QUrl url);
    // Unpacks the archive in a private working folder, takes the "ffmpeg" at its top level and
    // adopts it; the working folder is removed on every way out. Throws InstallError (3, 4) or
    // the adoption's own errors.
    static QCoro::Task<QString> extractAndAdopt(QByteArray zipData);
    // Its unpacking step (blocking): writes the archive into `folder` and unpacks it into
    // `folder`/x. The problem text when either fails; whatever was written stays for the caller.
    static std::optional<QString> unpack(const QString &folder, const QByteArray &zipData);
    // Its clean-up: removes the working folder and everything in it (links are not followed).
    static void removeWorkingFolder(const QString &folder);
    // The lower-case hexadecimal SHA-256 of some bytes.
    static QString sha256Hex(const QByteArray &bytes);

    // The sheet's texts.
    static QString explanation();
    static QString pickerMessage();
    static QString homebrewButtonTitle() { return QStringLiteral("Add Homebrew FFmpeg"); }
    static QString homebrewProgram();
    static bool homebrewAvailable();
    // The tools folder as a user finds it, with the home folder written "~"
    // (~/.local/share/Vorlik/FFmpegTools).
    static QString toolsFolderDisplayName();

signals:
    void phaseChanged();
    void installedChanged();
    void busyChanged();
    void installed(const QString &program);
    void dismissRequested();

private:
    QCoro::Task<QString> installFromSource(QUrl zipURL, QUrl sumURL);
    void setPhase(const InstallPhase &phase);
    void setBusy(bool busy);
    void finish(const QString &program);

    InstallPhase m_phase;
    QString m_installed;
    bool m_busy = false;
    QUrl m_primaryZipURL;
    QUrl m_primarySumURL;
    QUrl m_fallbackZipURL;
};

} // namespace vorlik::ffmpeg
