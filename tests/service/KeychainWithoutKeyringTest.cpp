// The keyring store where no keyring exists (a private D-Bus session on which nothing provides
// the Secret Service, started by tests/support/without-keyring): failures carry a status, the
// key is not remembered anywhere, and the texts the settings window shows.
#include "service/KeychainStore.h"
#include "tests/service/KeyringTestSupport.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>

#include <qt6keychain/keychain.h>

using namespace vorlik;
using namespace vorlik::service;
using Result = KeychainStore::Result;

TEST(KeychainWithoutKeyring, SaveFailsWithAStatusAndNothingIsKeptAnywhere)
{
    const QString key = QStringLiteral("vk_nowhere_probe_81c2e7");
    const Result saved = KeychainStore::save(key);
    EXPECT_EQ(saved, Result::failure(QKeychain::NoBackendAvailable));
    EXPECT_EQ(KeychainStore::saveText(saved), "Could not save: the keyring reported an error (5).");
    EXPECT_EQ(KeychainStore::load(), std::nullopt);
    EXPECT_EQ(test::filesHolding(QDir::homePath(), key), QStringList());
}

TEST(KeychainWithoutKeyring, DeleteFailsWithAStatus)
{
    const Result removed = KeychainStore::remove();
    EXPECT_EQ(removed, Result::failure(QKeychain::NoBackendAvailable));
    EXPECT_EQ(KeychainStore::removeText(removed), "Could not remove: the keyring reported an error (5).");
}

TEST(KeychainWithoutKeyring, TheBackgroundCallsReportTheSame)
{
    EXPECT_EQ(test::run(KeychainStore::saveInBackground(QStringLiteral("vk_x"))),
              Result::failure(QKeychain::NoBackendAvailable));
    EXPECT_EQ(test::run(KeychainStore::loadInBackground()), std::nullopt);
    EXPECT_EQ(test::run(KeychainStore::removeInBackground()), Result::failure(QKeychain::NoBackendAvailable));
}

TEST(KeychainStatus, TextsForEveryOutcome)
{
    struct Case {
        Result result;
        const char *save;
        const char *remove;
    };
    const Case cases[] = {
        {Result::success(), "Saved — the app connects with this key automatically on launch.",
         "Removed — the app will no longer auto-connect."},
        {Result::alreadyAbsent(), "Saved — the app connects with this key automatically on launch.",
         "Removed — the app will no longer auto-connect."},
        {Result::failure(4), "Could not save: the keyring reported an error (4).",
         "Could not remove: the keyring reported an error (4)."},
        {Result::failure(-25300), "Could not save: the keyring reported an error (-25300).",
         "Could not remove: the keyring reported an error (-25300)."},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(KeychainStore::saveText(c.result), QString::fromUtf8(c.save));
        EXPECT_EQ(KeychainStore::removeText(c.result), QString::fromUtf8(c.remove));
    }
}

TEST(KeychainStatus, ResultsCompareByCaseAndStatus)
{
    EXPECT_EQ(Result::failure(7), Result::failure(7));
    EXPECT_NE(Result::failure(7), Result::failure(5));
    EXPECT_NE(Result::success(), Result::alreadyAbsent());
    EXPECT_NE(Result::success(), Result::failure(0));
}

TEST(KeychainStatus, ErrorCodesMapToStableStatuses)
{
    struct Case {
        int error;
        const char *message;
        qint32 status;
    };
    const Case cases[] = {
        {QKeychain::EntryNotFound, "Entry not found", 1},
        {QKeychain::CouldNotDeleteEntry, "", 2},
        {QKeychain::AccessDeniedByUser, "", 3},
        {QKeychain::AccessDenied, "Cannot create an item in a locked collection", 4},
        {QKeychain::NoBackendAvailable, "No keychain service available", 5},
        {QKeychain::NotImplemented, "", 6},
        {QKeychain::OtherError, "Something else", 7},
        // Nobody answers for the Secret Service: told as "no keyring".
        {QKeychain::OtherError, "The name org.freedesktop.secrets was not provided by any .service files", 5},
        {QKeychain::OtherError, "Object does not exist at path “/org/freedesktop/secrets/collection/login”", 5},
        {QKeychain::OtherError, "Cannot autolaunch D-Bus without X11 $DISPLAY", 5},
        {QKeychain::OtherError, "Could not connect: No such file or directory", 5},
        {QKeychain::OtherError, "Could not open wallet: org.freedesktop.DBus.Error.NoServer; D-Bus is not running", 5},
    };
    for (const Case &c : cases)
        EXPECT_EQ(KeychainStore::statusFor(c.error, QString::fromUtf8(c.message)), c.status) << c.message;
}
