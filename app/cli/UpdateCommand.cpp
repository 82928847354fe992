#include "app/cli/UpdateCommand.h"

#include "update/UpdateManager.h"

#include <QPointer>

#include <coroutine>

namespace vorlik::app {
namespace {

using update::UpdateManager;
using update::UpdatePhase;

// Suspends until the install either fails (phase error) or hands over to its helper. It
// resumes inside the manager's signal, so the command is done before the quit that follows
// the hand-over reaches the event loop.
class InstallSettled {
public:
    explicit InstallSettled(UpdateManager &manager) : m_manager(&manager) {}

    bool await_ready() const { return m_manager->phase().is(UpdatePhase::Kind::error); }
    void await_suspend(std::coroutine_handle<> waiting)
    {
        const auto settle = [this, waiting](bool relaunching) {
            QObject::disconnect(m_failed);
            QObject::disconnect(m_relaunching);
            m_relaunched = relaunching;
            waiting.resume();
        };
        m_failed = QObject::connect(m_manager, &UpdateManager::phaseChanged, m_manager, [this, settle] {
            if (m_manager->phase().is(UpdatePhase::Kind::error))
                settle(false);
        });
        m_relaunching = QObject::connect(m_manager, &UpdateManager::aboutToRelaunch, m_manager,
                                         [settle](const QString &) { settle(true); });
    }
    bool await_resume() const { return m_relaunched; }

private:
    UpdateManager *m_manager;
    QMetaObject::Connection m_failed;
    QMetaObject::Connection m_relaunching;
    bool m_relaunched = false;
};

void printPhase(const UpdateManager &manager, QTextStream &out, QTextStream &err)
{
    const UpdatePhase &phase = manager.phase();
    if (phase.is(UpdatePhase::Kind::error)) {
        err << "✗ " << phase.message << Qt::endl;
        return;
    }
    out << manager.statusText() << Qt::endl;
    if (phase.is(UpdatePhase::Kind::available) && !manager.notes().isEmpty())
        out << manager.notes() << Qt::endl;
}

} // namespace

QCoro::Task<int> runUpdateCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    const QString action = line.arguments.value(0);
    if (action != QLatin1String("check") && action != QLatin1String("download") && action != QLatin1String("install")) {
        err << "vorlik: update needs one of check, download, install" << Qt::endl;
        co_return 2;
    }
    UpdateManager &manager = UpdateManager::shared();

    out << "Checking for updates…" << Qt::endl;
    QCoro::Task<UpdatePhase> checking = manager.check();
    UpdatePhase checked = co_await checking;
    printPhase(manager, out, err);
    if (checked.is(UpdatePhase::Kind::error))
        co_return 1;
    if (checked.is(UpdatePhase::Kind::available) && manager.packageManaged()) {
        // Nothing here may replace a package's files: the newer version comes as a package.
        if (action == QLatin1String("check")) {
            out << UpdateManager::packageManagerNote() << Qt::endl;
            co_return 0;
        }
        err << "✗ " << UpdateManager::packageManagerNote() << Qt::endl;
        co_return 1;
    }
    if (action == QLatin1String("check") || !checked.is(UpdatePhase::Kind::available))
        co_return 0;

    out << "Downloading update…" << Qt::endl;
    int shownPercent = 0;
    const QMetaObject::Connection progress =
        QObject::connect(&manager, &UpdateManager::phaseChanged, &manager, [&manager, &out, &shownPercent] {
            const int percent = int(manager.downloadFraction() * 100);
            if (manager.phase().is(UpdatePhase::Kind::downloading) && percent >= shownPercent + 10) {
                shownPercent = percent - percent % 10;
                out << "Downloading update… " << shownPercent << '%' << Qt::endl;
            }
        });
    QCoro::Task<void> downloading = manager.download(checked.manifest);
    co_await downloading;
    QObject::disconnect(progress);
    const UpdatePhase downloaded = manager.phase();
    if (!downloaded.is(UpdatePhase::Kind::downloaded)) {
        printPhase(manager, out, err);
        co_return 1;
    }
    out << "✓ Downloaded and SHA-256 verified: " << downloaded.path << Qt::endl;
    if (action == QLatin1String("download"))
        co_return 0;

    out << UpdateManager::installExplanation() << Qt::endl;
    manager.installAndRelaunch(downloaded.manifest, downloaded.path);
    const bool relaunching = co_await InstallSettled(manager);
    if (!relaunching) {
        printPhase(manager, out, err);
        co_return 1;
    }
    out << "✓ Installed Vorlik Desktop " << downloaded.manifest.version << " — relaunching" << Qt::endl;
    co_return 0;
}

} // namespace vorlik::app
