#pragma once
// The developer hooks that both pages read from the settings when they first appear:
// "connectKey" signs in with a client key; "autoConvert" / "autoAnalyze" name files (comma
// separated) to queue once the page is ready for them.
#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

namespace vorlik::platform {
class Settings;
}
namespace vorlik::service {
class SessionStore;
}

namespace vorlik::analysis {

class PageHooks {
public:
    static constexpr int readyAttempts = 100;
    static constexpr std::chrono::milliseconds readyInterval{200};

    // "connectKey": when it holds more than spaces and tabs, starts connecting the store with it
    // as written. True when a connect was started.
    static bool connectKey(service::SessionStore &store, const platform::Settings &settings);

    // The files named by a comma-separated setting; none when the setting is absent or holds only
    // spaces and tabs. Empty pieces are dropped.
    static std::optional<QList<QUrl>> fileList(const platform::Settings &settings, const QString &key);

    // Checks `ready` at once and then every `interval`, at most `attempts` times in all, and
    // runs `then` the first time it holds. Ends quietly when `owner` goes away.
    static QCoro::Task<bool> whenReady(QPointer<QObject> owner, std::function<bool()> ready, std::function<void()> then,
                                       int attempts = readyAttempts,
                                       std::chrono::milliseconds interval = readyInterval);
};

} // namespace vorlik::analysis
