// Shared main for the test binaries: a private HOME and XDG folders, so that settings, logs
// and tools folders of one run never touch the user's or another test's; then a Qt core
// application, so coroutines and network replies have an event loop (see TestApplication.h).
#include "tests/support/DevServer.h"
#include "tests/support/TestApplication.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>

// Weak: a test binary's own definition (widgets, the web view) takes its place.
__attribute__((weak)) std::unique_ptr<QCoreApplication> vorlik::test::makeApplication(int &argc, char **argv)
{
    return std::make_unique<QCoreApplication>(argc, argv);
}

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/vorlik-test-home-XXXXXX"));
    if (!home.isValid())
        return 2;
    const QByteArray root = home.path().toUtf8();
    // The keyring wrapper prepares HOME itself before starting the daemon; keep that one.
    if (qEnvironmentVariableIsEmpty("VORLIK_TEST_KEEP_HOME"))
        qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    qputenv("TZ", "UTC");

    ::testing::InitGoogleTest(&argc, argv);
    const auto app = vorlik::test::makeApplication(argc, argv);
    const int result = RUN_ALL_TESTS();
    vorlik::test::DevServer::stopAll();
    return result;
}
