#pragma once
// Uploaded audio files waiting for a job: DATA/uploads/<upload id>, owned by the client that
// sent them. An upload is used once, to start a job (which then owns the file); one that is
// never used is removed after a while, and every remaining file when the store goes away.
#include <QDir>
#include <QString>

#include <chrono>
#include <map>
#include <mutex>
#include <optional>

namespace vorlik::devserver {

class UploadStore {
public:
    struct Upload {
        QString id;
        QString clientId;
        QString fileName;   // as the client named it; never used as a path
        QString path;       // where the bytes are
        qint64 size = 0;
    };

    static constexpr std::chrono::minutes unusedLifetime{60};

    explicit UploadStore(const QString &dataPath);
    ~UploadStore();

    QString folder() const { return m_folder.path(); }
    // A fresh upload id and the path its bytes go to (nothing is created yet).
    std::pair<QString, QString> reserve();
    // Files a finished upload under its id.
    void add(const Upload &upload);
    // The upload for this client, removed from the store: the caller now owns its file.
    std::optional<Upload> take(const QString &id, const QString &clientId);
    // Removes uploads left unused for longer than unusedLifetime.
    void sweep();

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        Upload upload;
        Clock::time_point added;
    };

    QDir m_folder;
    mutable std::mutex m_lock;
    std::map<QString, Entry> m_uploads;
};

} // namespace vorlik::devserver
