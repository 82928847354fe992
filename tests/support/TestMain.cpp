// Shared main for the test binaries: a private HOME and XDG folders, so that settings, logs
// and tools folders of one run never touch the user's or another test's; then a Qt core
// application (a widget application for GUI tests), so coroutines and network replies have an
// event loop.
#include "tests/support/DevServer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#ifdef VORLIK_TEST_GUI
#include <QApplication>
#endif
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>

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
#ifdef VORLIK_TEST_GUI
    QApplication app(argc, argv); // widget tests
#else
    QCoreApplication app(argc, argv);
#endif
    const int result = RUN_ALL_TESTS();
    vorlik::test::DevServer::stopAll();
    return result;
}
