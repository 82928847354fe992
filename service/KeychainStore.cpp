#include "service/KeychainStore.h"

#include "service/KeyringThread.h"

#include <QCoroFuture>
#include <QEventLoop>
#include <QFuture>
#include <QStringDecoder>

#include <qt6keychain/keychain.h>

#include <functional>

namespace vorlik::service {
namespace {

struct JobOutcome {
    QKeychain::Error error = QKeychain::NoError;
    QString message;
    QByteArray data; // read jobs
};

// Runs one QtKeychain job to its end on the current (keyring) thread.
JobOutcome runJob(QKeychain::Job &job)
{
    job.setAutoDelete(false);
    job.setInsecureFallback(false); // never a plain-text copy of the key
    job.setKey(QString::fromLatin1(KeychainStore::accountName));
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start(); // queued: it cannot finish before the loop runs
    loop.exec();
    JobOutcome outcome{job.error(), job.errorString(), {}};
    if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(&job))
        outcome.data = read->binaryData();
    return outcome;
}

JobOutcome readItem()
{
    QKeychain::ReadPasswordJob job(QString::fromLatin1(KeychainStore::serviceName));
    return runJob(job);
}

KeychainStore::Result saveHere(const QString &key)
{
    QKeychain::WritePasswordJob job(QString::fromLatin1(KeychainStore::serviceName));
    job.setTextData(key); // the Secret Service replaces an item with the same attributes
    const JobOutcome outcome = runJob(job);
    if (outcome.error == QKeychain::NoError)
        return KeychainStore::Result::success();
    return KeychainStore::Result::failure(KeychainStore::statusFor(outcome.error, outcome.message));
}

std::optional<QString> loadHere()
{
    const JobOutcome outcome = readItem();
    if (outcome.error != QKeychain::NoError)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString key = decoder.decode(outcome.data);
    if (decoder.hasError())
        return std::nullopt;
    return key;
}

KeychainStore::Result removeHere()
{
    const bool wasThere = readItem().error == QKeychain::NoError;
    QKeychain::DeletePasswordJob job(QString::fromLatin1(KeychainStore::serviceName));
    const JobOutcome outcome = runJob(job);
    if (outcome.error == QKeychain::EntryNotFound)
        return KeychainStore::Result::alreadyAbsent();
    if (outcome.error != QKeychain::NoError)
        return KeychainStore::Result::failure(KeychainStore::statusFor(outcome.error, outcome.message));
    return wasThere ? KeychainStore::Result::success() : KeychainStore::Result::alreadyAbsent();
}

} // namespace

qint32 KeychainStore::statusFor(int keychainError, const QString &message)
{
    if (keychainError == QKeychain::OtherError) {
        // QtKeychain folds "nobody answers for the Secret Service" into its catch-all; the user
        // is better told that there is no keyring. These are the texts of GDBus and libsecret.
        static const char *const noService[] = {
            "org.freedesktop.secrets was not provided by any",
            "Object does not exist at path",
            "Cannot autolaunch D-Bus",
            "Could not connect",
            "Cannot spawn a message bus",
            "D-Bus is not running",
        };
        for (const char *text : noService)
            if (message.contains(QLatin1String(text)))
                return QKeychain::NoBackendAvailable;
    }
    return keychainError;
}

KeychainStore::Result KeychainStore::save(const QString &key)
{
    return KeyringThread::instance().call<Result>([key] { return saveHere(key); });
}

std::optional<QString> KeychainStore::load()
{
    return KeyringThread::instance().call<std::optional<QString>>([] { return loadHere(); });
}

KeychainStore::Result KeychainStore::remove()
{
    return KeyringThread::instance().call<Result>([] { return removeHere(); });
}

// The work and its future are named locals: g++ 12 destroys the temporaries of a co_await
// expression twice (a lambda's captured key, the std::function made from it), which corrupts
// the heap.
QCoro::Task<KeychainStore::Result> KeychainStore::saveInBackground(QString key)
{
    std::function<Result()> work = [key] { return saveHere(key); };
    QFuture<Result> saved = KeyringThread::instance().submit<Result>(std::move(work));
    co_return co_await saved;
}

QCoro::Task<std::optional<QString>> KeychainStore::loadInBackground()
{
    std::function<std::optional<QString>()> work = [] { return loadHere(); };
    QFuture<std::optional<QString>> loaded = KeyringThread::instance().submit<std::optional<QString>>(std::move(work));
    co_return co_await loaded;
}

QCoro::Task<KeychainStore::Result> KeychainStore::removeInBackground()
{
    std::function<Result()> work = [] { return removeHere(); };
    QFuture<Result> removed = KeyringThread::instance().submit<Result>(std::move(work));
    co_return co_await removed;
}

QString KeychainStore::saveText(const Result &result)
{
    if (result.kind == Result::Case::failure)
        return QStringLiteral("Could not save: the keyring reported an error (") + QString::number(result.status)
            + QStringLiteral(").");
    return QStringLiteral("Saved — the app connects with this key automatically on launch.");
}

QString KeychainStore::removeText(const Result &result)
{
    if (result.kind == Result::Case::failure)
        return QStringLiteral("Could not remove: the keyring reported an error (") + QString::number(result.status)
            + QStringLiteral(").");
    return QStringLiteral("Removed — the app will no longer auto-connect.");
}

} // namespace vorlik::service
