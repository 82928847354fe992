#include "devserver/UploadStore.h"

#include <QFile>
#include <QRandomGenerator>

#include <vector>

namespace vorlik::devserver {

namespace {

QString randomID(const char *prefix)
{
    quint64 words[2];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(prefix)
        + QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex());
}

} // namespace

UploadStore::UploadStore(const QString &dataPath) : m_folder(QDir(dataPath).filePath(QStringLiteral("uploads")))
{
    m_folder.mkpath(QStringLiteral("."));
    // Leftovers of an earlier run in the same data folder belong to no one now.
    for (const QString &name : m_folder.entryList(QDir::Files | QDir::Hidden))
        m_folder.remove(name);
}

UploadStore::~UploadStore()
{
    std::lock_guard guard(m_lock);
    for (const auto &[id, entry] : m_uploads)
        QFile::remove(entry.upload.path);
}

std::pair<QString, QString> UploadStore::reserve()
{
    const QString id = randomID("up_");
    return {id, m_folder.filePath(id + QStringLiteral(".upload"))};
}

void UploadStore::add(const Upload &upload)
{
    std::lock_guard guard(m_lock);
    m_uploads[upload.id] = Entry{upload, Clock::now()};
}

std::optional<UploadStore::Upload> UploadStore::take(const QString &id, const QString &clientId)
{
    std::lock_guard guard(m_lock);
    const auto found = m_uploads.find(id);
    if (found == m_uploads.end() || found->second.upload.clientId != clientId)
        return std::nullopt;
    Upload upload = found->second.upload;
    m_uploads.erase(found);
    return upload;
}

void UploadStore::sweep()
{
    std::vector<QString> stale;
    {
        std::lock_guard guard(m_lock);
        const Clock::time_point limit = Clock::now() - unusedLifetime;
        for (auto it = m_uploads.begin(); it != m_uploads.end();) {
            if (it->second.added < limit) {
                stale.push_back(it->second.upload.path);
                it = m_uploads.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const QString &path : stale)
        QFile::remove(path);
}

} // namespace vorlik::devserver
