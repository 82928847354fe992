// The update download: the image streamed to disk in 256 KiB blocks, and its digest.
#include "update/UpdateManager.h"

#include "diagnostics/DiagnosticsLogger.h"
#include "platform/AppPaths.h"
#include "platform/Sha256.h"
#include "service/APIClient.h"
#include "service/APIError.h"
#include "service/BodyLength.h"
#include "service/ReplyStatus.h"
#include "update/UpdateError.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroNetworkReply>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUuid>
#include <QtConcurrent>

#include <algorithm>
#include <memory>

namespace vorlik::update {
namespace {

constexpr int requestTimeoutMilliseconds = 60 * 1000;
constexpr qsizetype blockBytes = 262144;    // written to disk at a time
constexpr qint64 hashReadBytes = 1048576;   // read at a time for the digest
// How much the network layer may hold for us before it stops reading from the socket: the
// download's memory stays bounded however fast the server sends.
constexpr qint64 networkBufferBytes = 2 * 1048576;

void logUpdate(const QString &message)
{
    diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("update"), message);
}

struct ReplyDeleter {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

// The bytes of one download on their way to the file.
class BlockWriter {
public:
    BlockWriter(QFile &file, std::function<void(double)> progress)
        : m_file(file), m_progress(std::move(progress)), m_block(blockBytes, Qt::Uninitialized)
    {
    }

    // Takes what the reply holds now; false (with writeError()) when the disk refused a block.
    bool take(QNetworkReply &reply)
    {
        if (!m_writeError.isEmpty())
            return false;
        if (m_expected < 0) {
            const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
            bool ok = false;
            const qint64 value = length.toLongLong(&ok);
            m_expected = length.isValid() && ok && value > 0 ? value : 0;
        }
        while (reply.bytesAvailable() > 0) {
            const qint64 read = reply.read(m_block.data() + m_filled, blockBytes - m_filled);
            if (read <= 0)
                break;
            m_filled += read;
            m_received += read;
            if (m_filled == blockBytes) {
                if (!flush())
                    return false;
                if (m_expected > 0)
                    m_progress(std::min(double(m_received) / double(m_expected), 1.0));
            }
        }
        return true;
    }

    bool finish()
    {
        if (!m_writeError.isEmpty() || !flush())
            return false;
        if (m_expected > 0)
            m_progress(1.0);
        return true;
    }

    const QString &writeError() const { return m_writeError; }
    qint64 received() const { return m_received; }

private:
    bool flush()
    {
        if (m_filled == 0)
            return true;
        if (m_file.write(m_block.constData(), m_filled) != m_filled) {
            m_writeError = QStringLiteral("Could not write ") + m_file.fileName() + QStringLiteral(": ") + m_file.errorString();
            return false;
        }
        m_filled = 0;
        return true;
    }

    QFile &m_file;
    std::function<void(double)> m_progress;
    QByteArray m_block;
    qint64 m_filled = 0;
    qint64 m_received = 0;
    qint64 m_expected = -1; // not read yet
    QString m_writeError;
};

} // namespace

QCoro::Task<void> UpdateManager::download(Manifest manifest)
{
    if (m_phase.is(UpdatePhase::Kind::downloading))
        co_return; // one download at a time
    if (packageManaged()) {
        // The image holds a bundle, which a packaged copy cannot use.
        logUpdate(QStringLiteral("download refused: the package manager updates this copy"));
        setPhase(UpdatePhase::error(packageManagerNote()));
        co_return;
    }
    if (!updatesItself()) {
        // Nothing in a loose copy could be swapped for the image's bundle: said before the
        // download rather than after it.
        const QString failure = UpdateError::notRunningFromBundle(QCoreApplication::applicationFilePath()).description();
        logUpdate(QStringLiteral("download refused: ") + failure);
        setPhase(UpdatePhase::error(failure));
        co_return;
    }
    QPointer<UpdateManager> self(this);
    QUrl url(manifest.dmg, QUrl::StrictMode);
    if (manifest.dmg.isEmpty() || !url.isValid() || !isAllowedDownloadURL(manifest.dmg, manifestURL())) {
        setPhase(UpdatePhase::error(QStringLiteral("The update link is invalid.")));
        co_return;
    }
    setPhase(UpdatePhase::downloading(0.0));

    QString file;
    QString failure;
    try {
        QCoro::Task<QString> downloading = download(url, [self](double fraction) {
            if (self)
                self->setPhase(UpdatePhase::downloading(fraction));
        });
        file = co_await downloading;
    } catch (const std::exception &error) {
        failure = describe(error);
    }

    QString digest;
    if (failure.isEmpty()) {
        // A large image takes seconds to hash: off the main thread, so the window stays live.
        QFuture<QString> hashing = QtConcurrent::run([file]() -> QString {
            try {
                return QStringLiteral("ok:") + sha256(file);
            } catch (const std::exception &error) {
                return QStringLiteral("failed:") + describe(error);
            }
        });
        co_await hashing;
        const QString outcome = hashing.result();
        if (outcome.startsWith(QStringLiteral("ok:")))
            digest = outcome.mid(3);
        else
            failure = outcome.mid(7);
    }
    // Downloaded but not verifiable, or verified for a manager that is gone: of no use to anyone.
    if (!file.isEmpty() && (!failure.isEmpty() || !self))
        QFile::remove(file);
    if (!self)
        co_return;
    if (!failure.isEmpty()) {
        setPhase(UpdatePhase::error(QStringLiteral("Download failed: ") + failure));
        logUpdate(QStringLiteral("download failed: ") + failure);
        co_return;
    }
    if (digest.toLower() != manifest.sha256.toLower()) {
        QFile::remove(file);
        setPhase(UpdatePhase::error(QStringLiteral("The download failed its SHA-256 check.")));
        co_return;
    }
    setPhase(UpdatePhase::downloaded(manifest, file));
    logUpdate(QStringLiteral("downloaded + SHA-256 verified: ") + file);
}

QCoro::Task<QString> UpdateManager::download(QUrl url, std::function<void(double)> progress)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(requestTimeoutMilliseconds);

    const QString path = platform::AppPaths::temporary() + QStringLiteral("/vorlik-update-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".dmg");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Failure(QStringLiteral("Could not create ") + path + QStringLiteral(": ") + file.errorString());

    BlockWriter writer(file, std::move(progress));
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(service::APIClient::networkSession().get(request));
    reply->setReadBufferSize(networkBufferBytes);
    QNetworkReply *raw = reply.get();
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, &writer] {
        if (!writer.take(*raw))
            raw->abort();
    });
    co_await raw;
    QObject::disconnect(raw, &QNetworkReply::readyRead, raw, nullptr);

    const bool taken = writer.take(*raw) && writer.finish();
    file.close();
    // A failed download leaves nothing behind: its name is known to no one else, so no one
    // else could ever use or remove the partial file.
    if (!taken) {
        QFile::remove(path);
        throw Failure(writer.writeError());
    }
    // The status is not judged: a wrong body, an error page included, fails the digest check.
    if (service::ReplyStatus::transferFailed(*raw)) {
        QFile::remove(path);
        throw service::TransportError(raw->error(), raw->errorString());
    }
    if (const std::optional<QString> shortfall = service::BodyLength::shortfall(*raw, writer.received())) {
        QFile::remove(path);
        throw Failure(*shortfall);
    }
    co_return path;
}

QString UpdateManager::sha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Failure(QStringLiteral("Could not read ") + path + QStringLiteral(": ") + file.errorString());
    platform::Sha256 hash;
    QByteArray buffer(hashReadBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(buffer.data(), hashReadBytes);
        if (read < 0)
            throw Failure(QStringLiteral("Could not read ") + path + QStringLiteral(": ") + file.errorString());
        if (read == 0)
            break;
        hash.add(QByteArrayView(buffer.constData(), read));
    }
    return hash.hexDigest();
}

} // namespace vorlik::update
