#include "analysis/PageHooks.h"

#include "ffmpeg/FFmpegLocator.h"
#include "platform/Settings.h"
#include "service/SessionStore.h"

#include <QCoroTimer>

namespace vorlik::analysis {

bool PageHooks::connectKey(service::SessionStore &store, const platform::Settings &settings)
{
    const std::optional<QString> key = settings.optionalString(QStringLiteral("connectKey"));
    if (!key || ffmpeg::FFmpegLocator::trimSpacesAndTabs(*key).isEmpty())
        return false;
    // The store's connect runs on by itself; nothing waits for it here.
    store.connect(*key);
    return true;
}

std::optional<QList<QUrl>> PageHooks::fileList(const platform::Settings &settings, const QString &key)
{
    const std::optional<QString> text = settings.optionalString(key);
    if (!text || ffmpeg::FFmpegLocator::trimSpacesAndTabs(*text).isEmpty())
        return std::nullopt;
    QList<QUrl> files;
    for (const QString &piece : text->split(u',', Qt::SkipEmptyParts))
        files.append(QUrl::fromLocalFile(piece));
    return files;
}

QCoro::Task<bool> PageHooks::whenReady(QPointer<QObject> owner, std::function<bool()> ready, std::function<void()> then,
                                       int attempts, std::chrono::milliseconds interval)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!owner)
            co_return false;
        if (ready()) {
            then();
            co_return true;
        }
        if (attempt + 1 < attempts)
            co_await QCoro::sleepFor(interval);
    }
    co_return false;
}

} // namespace vorlik::analysis
