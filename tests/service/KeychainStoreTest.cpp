// Runs against gnome-keyring in a private D-Bus session, started by tests/support/with-keyring.
#include "service/KeychainStore.h"
#include "service/KeyringThread.h"
#include "tests/service/SessionTestSupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDir>
#include <QThread>

#include <vector>

#include <qt6keychain/keychain.h>

using namespace vorlik;
using namespace vorlik::service;
using namespace Qt::StringLiterals;
using Result = KeychainStore::Result;

namespace {

// The Secret Service items with our service and account, as the keyring itself lists them.
int storedItemCount()
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.secrets"_s, u"/org/freedesktop/secrets"_s,
                                                       u"org.freedesktop.Secret.Service"_s, u"SearchItems"_s);
    const QMap<QString, QString> attributes{{QStringLiteral("server"), QString::fromLatin1(KeychainStore::serviceName)},
                                            {QStringLiteral("user"), QString::fromLatin1(KeychainStore::accountName)}};
    call << QVariant::fromValue(attributes);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2) {
        ADD_FAILURE() << "SearchItems failed: " << reply.errorMessage().toStdString();
        return -1;
    }
    const auto unlocked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(0));
    const auto locked = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().at(1));
    return int(unlocked.size() + locked.size());
}

// Writes raw bytes as the item's secret (QtKeychain keeps them base64-encoded), as another program could.
bool storeRawBytes(const QByteArray &bytes)
{
    return KeyringThread::instance().call<bool>([bytes] {
        QKeychain::WritePasswordJob job(QString::fromLatin1(KeychainStore::serviceName));
        job.setAutoDelete(false);
        job.setKey(QString::fromLatin1(KeychainStore::accountName));
        job.setBinaryData(bytes);
        QEventLoop loop;
        QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
        job.start();
        loop.exec();
        return job.error() == QKeychain::NoError;
    });
}

class KeychainStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(KeychainStore::remove().kind, Result::Case::failure); }
    void TearDown() override { KeychainStore::remove(); }
};

} // namespace

TEST_F(KeychainStoreTest, SaveReplacesTheOneItemKeepsTheKeyExactlyAndOnlyThere)
{
    EXPECT_EQ(KeychainStore::load(), std::nullopt);
    EXPECT_EQ(KeychainStore::remove(), Result::alreadyAbsent());
    // The caller trims, the store does not.
    const QString keys[] = {u"vk_plain_text_probe_5f3a9c"_s, u"ключ-клиента-€-日本語-🔑"_s, u"  spaces kept  "_s,
                            u"line\nbreak\ttab"_s, QString(4096, u'k')};
    for (const QString &key : keys) {
        ASSERT_EQ(KeychainStore::save(key), Result::success());
        EXPECT_EQ(KeychainStore::load(), key) << key.toStdString();
        EXPECT_EQ(storedItemCount(), 1);
    }
    EXPECT_EQ(test::filesHolding(QDir::homePath(), keys[0]), QStringList());
    EXPECT_EQ(KeychainStore::remove(), Result::success());
    EXPECT_EQ(storedItemCount(), 0);
    EXPECT_EQ(KeychainStore::load(), std::nullopt);
    EXPECT_EQ(KeychainStore::remove(), Result::alreadyAbsent());

    // Bytes that are not UTF-8, as another program could write them, load as none.
    ASSERT_TRUE(storeRawBytes(QByteArray("\xff\xfe\x80 key", 7)));
    EXPECT_EQ(KeychainStore::load(), std::nullopt);
    EXPECT_EQ(KeychainStore::remove(), Result::success());
}

TEST_F(KeychainStoreTest, TheBackgroundCallsResumeOnTheCallersThreadAndCallsFromManyThreadsAreServedOneAfterAnother)
{
    QThread *const main = QThread::currentThread();
    const auto flow = [main]() -> QCoro::Task<QList<bool>> {
        QList<bool> onMain;
        const Result saved = co_await KeychainStore::saveInBackground(QStringLiteral("vk_background"));
        onMain << (QThread::currentThread() == main) << (saved == Result::success());
        const std::optional<QString> loaded = co_await KeychainStore::loadInBackground();
        onMain << (QThread::currentThread() == main) << (loaded == QStringLiteral("vk_background"));
        const Result removed = co_await KeychainStore::removeInBackground();
        onMain << (QThread::currentThread() == main) << (removed == Result::success());
        const Result again = co_await KeychainStore::removeInBackground();
        onMain << (again == Result::alreadyAbsent());
        co_return onMain;
    };
    EXPECT_EQ(test::run(flow()), QList<bool>(7, true));

    // Every caller goes through the one keyring thread; none waits forever for another's job.
    QList<Result> results(8);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int index = 0; index < 8; ++index) {
        threads.emplace_back(QThread::create(
            [index, &results] { results[index] = KeychainStore::save(QStringLiteral("vk_thread_%1").arg(index)); }));
        threads.back()->start();
    }
    for (const auto &thread : threads)
        thread->wait();
    EXPECT_EQ(results, QList<Result>(8, Result::success()));
    EXPECT_EQ(storedItemCount(), 1);
    EXPECT_TRUE(KeychainStore::load().value_or(QString()).startsWith(QStringLiteral("vk_thread_")));
}
