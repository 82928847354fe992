// Runs on a private D-Bus session where nothing provides the Secret Service (tests/support/without-keyring).
#include "service/KeychainStore.h"
#include "tests/service/SessionTestSupport.h"

#include <QDir>

#include <tuple>

#include <qt6keychain/keychain.h>

using namespace vorlik;
using namespace vorlik::service;
using Result = KeychainStore::Result;

TEST(KeychainWithoutKeyring, EveryCallFailsWithAStatusAndTheKeyIsKeptNowhereAndErrorCodesMapToStableStatuses)
{
    const QString key = QStringLiteral("vk_nowhere_probe_81c2e7");
    const Result saved = KeychainStore::save(key);
    EXPECT_EQ(saved, Result::failure(QKeychain::NoBackendAvailable));
    EXPECT_EQ(KeychainStore::saveText(saved), "Could not save: the keyring reported an error (5).");
    EXPECT_EQ(KeychainStore::load(), std::nullopt);
    EXPECT_EQ(test::filesHolding(QDir::homePath(), key), QStringList());
    const Result removed = KeychainStore::remove();
    EXPECT_EQ(removed, Result::failure(QKeychain::NoBackendAvailable));
    EXPECT_EQ(KeychainStore::removeText(removed), "Could not remove: the keyring reported an error (5).");
    // Nothing stored is as good as removed, to the user.
    EXPECT_EQ(KeychainStore::removeText(Result::alreadyAbsent()), KeychainStore::removeText(Result::success()));

    EXPECT_EQ(test::run(KeychainStore::saveInBackground(key)), Result::failure(QKeychain::NoBackendAvailable));
    EXPECT_EQ(test::run(KeychainStore::loadInBackground()), std::nullopt);
    EXPECT_EQ(test::run(KeychainStore::removeInBackground()), Result::failure(QKeychain::NoBackendAvailable));

    const std::tuple<int, const char *, qint32> cases[] = {
        {QKeychain::EntryNotFound, "Entry not found", 1},
        {QKeychain::AccessDenied, "Cannot create an item in a locked collection", 4},
        {QKeychain::OtherError, "Something else", 7},
        // Nobody answers for the Secret Service: told as "no keyring".
        {QKeychain::OtherError, "The name org.freedesktop.secrets was not provided by any .service files", 5},
        {QKeychain::OtherError, "Object does not exist at path “/org/freedesktop/secrets/collection/login”", 5},
        {QKeychain::OtherError, "Cannot autolaunch D-Bus without X11 $DISPLAY", 5},
        {QKeychain::OtherError, "Could not connect: No such file or directory", 5},
        {QKeychain::OtherError, "Could not open wallet: org.freedesktop.DBus.Error.NoServer; D-Bus is not running", 5},
    };
    for (const auto &[error, message, status] : cases)
        EXPECT_EQ(KeychainStore::statusFor(error, QString::fromUtf8(message)), status) << message;
}
