// The update badge, the update sheet and the Preferences' update section against the stand-in
// service's update routes (HTTPS with the test certificate): a newer version shown with its
// notes, downloaded with its digest checked, an install refused while work runs, the state
// texts, closing the sheet, the window's update hooks at start, and a packaged copy that leaves
// the update to the package manager.
#include "app/ActiveJobs.h"
#include "app/AppWindows.h"
#include "app/LightPalette.h"
#include "app/PreferencesView.h"
#include "app/PreferencesWindowController.h"
#include "app/RootView.h"
#include "app/UpdateBadge.h"
#include "app/UpdateSheet.h"
#include "app/UpdatesSection.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "service/SessionStore.h"
#include "tests/app/ShellTestSupport.h"
#include "tests/support/TestFiles.h"
#include "update/Installation.h"
#include "update/UpdateManager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace vorlik::test {
namespace {

using platform::Settings;
using update::UpdateManager;
using update::UpdatePhase;

const QString stopWorkFirst = QStringLiteral("Stop active conversions/analysis before installing the update.");

// One HTTPS stand-in service serving an updates folder, for the whole test binary.
QTemporaryDir &updatesFolder()
{
    static auto *folder = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/vorlik-shell-updates-XXXXXX"));
    return *folder;
}

DevServer &updateServer()
{
    static DevServer *server = [] {
        DevServer::trustTestCA();
        return new DevServer(DevServer::tlsArguments() + QStringList{QStringLiteral("--updates"), updatesFolder().path()});
    }();
    return *server;
}

QUrl updateURL(const QString &name)
{
    QUrl url = updateServer().baseUrl();
    url.setPath(QStringLiteral("/tools/desktop/") + name);
    return url;
}

// Puts an image and a latest.json describing it on the server.
void publish(const QString &version, qint64 build, const QByteArray &image = QByteArray(300000, 'v'))
{
    writeFile(updatesFolder().filePath(QStringLiteral("update.dmg")), image);
    const QJsonObject manifest{
        {QStringLiteral("version"), version},
        {QStringLiteral("build"), build},
        {QStringLiteral("dmg"), updateURL(QStringLiteral("update.dmg")).toString()},
        {QStringLiteral("sha256"), QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex())},
        {QStringLiteral("notes"), QStringLiteral("Faster analysis uploads.\nThe Convert page remembers its presets.")}};
    writeFile(updatesFolder().filePath(QStringLiteral("latest.json")), QJsonDocument(manifest).toJson());
}

class UpdateSheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app::LightPalette::apply();
        service::KeychainStore::remove();
        shellServer().reset();
        shellServer().useAsService();
        updateServer().reset();
        Settings &settings = Settings::standard();
        settings.setValue(QStringLiteral("skipWebTabs"), true);
        settings.setOverride(QStringLiteral("updateManifestURL"), updateURL(QStringLiteral("latest.json")).toString());
        // The automatic check has run recently: only what a test asks for is checked.
        settings.setValue(QStringLiteral("lastUpdateCheckSuccess"), QDateTime::currentDateTime());
        store = std::make_unique<service::SessionStore>();
        windows = std::make_unique<app::AppWindows>(settings, diagnostics::DiagnosticsLogger::shared(), updater());
        view = std::make_unique<app::RootView>(*store, *windows, updater(), settings);
        view->resize(1200, 780);
        // Run as a bundle, the form that updates itself (nothing here installs into it).
        updater().setCurrentAppForTesting(QStringLiteral(VORLIK_APP_BUNDLE));
    }

    void TearDown() override
    {
        if (updater().showSheet())
            updater().setShowSheet(false);
        if (updater().phase().is(UpdatePhase::Kind::downloaded))
            QFile::remove(updater().phase().path);
        updater().setInstallationForTesting(update::Installation::current());
        for (const QString &key : app::ActiveJobs::shared().runningKeys())
            app::ActiveJobs::shared().end(key);
        view.reset();
        windows.reset();
        store.reset();
        Settings::standard().clearOverrides();
    }

    static UpdateManager &updater() { return UpdateManager::shared(); }

    void showAndSettle()
    {
        view->show();
        ASSERT_TRUE(waitUntil([&] { return view->isStartupFinished(); }));
    }

    app::UpdateSheet *sheet() const { return view->updateSheet(); }

    std::unique_ptr<service::SessionStore> store;
    std::unique_ptr<app::AppWindows> windows;
    std::unique_ptr<app::RootView> view;
};

TEST_F(UpdateSheetTest, ANewerVersionIsShownDownloadedAndItsInstallWaitsForRunningWork)
{
    publish(QStringLiteral("1.2.25"), 28);
    showAndSettle();
    EXPECT_FALSE(view->updateBadge()->isVisible());

    ASSERT_EQ(run(updater().check()).kind, UpdatePhase::Kind::available);
    ASSERT_TRUE(view->updateBadge()->isVisible());
    EXPECT_EQ(view->updateBadge()->text(), QStringLiteral("Update v1.2.25"));
    saveScreenshot(view.get(), QStringLiteral("main-update-badge"));

    QTest::mouseClick(view->updateBadge(), Qt::LeftButton);
    EXPECT_TRUE(updater().showSheet());
    ASSERT_TRUE(sheet()->isVisible());
    EXPECT_EQ(sheet()->statusLabel()->text(), QStringLiteral("1.2.25 (build 28) is available — you have 1.2.24"));
    EXPECT_TRUE(sheet()->notesView()->isVisible());
    EXPECT_EQ(sheet()->notesView()->toPlainText(),
              QStringLiteral("Faster analysis uploads.\nThe Convert page remembers its presets."));
    EXPECT_TRUE(sheet()->downloadButton()->isVisible());
    EXPECT_FALSE(sheet()->installButton()->isVisible());
    EXPECT_FALSE(sheet()->progressBar()->isVisible());
    EXPECT_FALSE(sheet()->packageNoteLabel()->isVisible());
    saveScreenshot(sheet(), QStringLiteral("update-sheet-available"));

    // The image answers late: the sheet shows the download under way meanwhile.
    updateServer().addFault(QJsonObject{{QStringLiteral("method"), QStringLiteral("GET")},
                                        {QStringLiteral("path"), QStringLiteral("/tools/desktop/update.dmg")},
                                        {QStringLiteral("action"), QStringLiteral("delay")},
                                        {QStringLiteral("delay_ms"), 1500}});
    QTest::mouseClick(sheet()->downloadButton(), Qt::LeftButton);
    ASSERT_TRUE(updater().phase().is(UpdatePhase::Kind::downloading));
    EXPECT_EQ(sheet()->statusLabel()->text(), QStringLiteral("Downloading update…"));
    EXPECT_TRUE(sheet()->progressBar()->isVisible());
    EXPECT_FALSE(sheet()->downloadButton()->isVisible());
    saveScreenshot(sheet(), QStringLiteral("update-sheet-downloading"));

    ASSERT_TRUE(waitUntil([&] { return !updater().phase().is(UpdatePhase::Kind::downloading); }));
    ASSERT_TRUE(updater().phase().is(UpdatePhase::Kind::downloaded)) << updater().phase().debugText().toStdString();
    EXPECT_EQ(sheet()->statusLabel()->text(), QStringLiteral("1.2.25 is downloaded and verified."));
    EXPECT_TRUE(sheet()->installButton()->isVisible());
    // Shown as "Install & Relaunch": the doubled "&" is how a button shows one.
    EXPECT_EQ(sheet()->installButton()->text(), QStringLiteral("Install && Relaunch"));
    EXPECT_TRUE(sheet()->explanationLabel()->isVisible());
    EXPECT_EQ(sheet()->explanationLabel()->text(),
              QStringLiteral("Install & Relaunch quits Vorlik, swaps in the new version and reopens it."));
    saveScreenshot(sheet(), QStringLiteral("update-sheet-downloaded"));
    const QString image = updater().phase().path;

    app::ActiveJobs::shared().begin(QStringLiteral("Conversion"));
    QTest::mouseClick(sheet()->installButton(), Qt::LeftButton);
    EXPECT_EQ(updater().phase(), UpdatePhase::error(stopWorkFirst));
    EXPECT_EQ(sheet()->statusLabel()->text(), stopWorkFirst);
    EXPECT_TRUE(sheet()->checkButton()->isVisible());
    saveScreenshot(sheet(), QStringLiteral("update-sheet-error"));
    QFile::remove(image);

    QTest::mouseClick(sheet()->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet()->isVisible());
    EXPECT_FALSE(updater().showSheet());
}

TEST_F(UpdateSheetTest, CheckAgainSaysUpToDateAndPreferencesAgree)
{
    publish(QStringLiteral("1.2.24"), 27);
    showAndSettle();
    updater().setShowSheet(true);
    ASSERT_TRUE(sheet()->isVisible());
    QTest::mouseClick(sheet()->checkButton(), Qt::LeftButton);
    EXPECT_EQ(sheet()->statusLabel()->text(), QStringLiteral("Checking for updates…"));
    ASSERT_TRUE(waitUntil([&] { return updater().phase().is(UpdatePhase::Kind::upToDate); }));
    EXPECT_EQ(sheet()->statusLabel()->text(), QStringLiteral("You're up to date — 1.2.24"));
    EXPECT_FALSE(sheet()->notesView()->isVisible());
    EXPECT_FALSE(view->updateBadge()->isVisible());
    saveScreenshot(sheet(), QStringLiteral("update-sheet-up-to-date"));

    // Setting showSheet false from elsewhere closes the sheet too.
    updater().setShowSheet(false);
    EXPECT_FALSE(sheet()->isVisible());

    windows->showPreferences();
    app::UpdatesSection *section = windows->preferences().view()->updates();
    EXPECT_EQ(section->checkButton()->text(), QStringLiteral("Check for Updates…"));
    EXPECT_EQ(section->stateLabel()->text(), QStringLiteral("You're up to date."));
    EXPECT_FALSE(section->packageNoteLabel()->isVisible());
    publish(QStringLiteral("1.3.0"), 40);
    QTest::mouseClick(section->checkButton(), Qt::LeftButton);
    EXPECT_FALSE(section->checkButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return updater().phase().is(UpdatePhase::Kind::available); }));
    EXPECT_TRUE(section->checkButton()->isEnabled());
    EXPECT_EQ(section->stateLabel()->text(), QStringLiteral("1.3.0 (build 40) is available — you have 1.2.24"));
    EXPECT_TRUE(view->updateBadge()->isVisible());
    EXPECT_EQ(view->updateBadge()->text(), QStringLiteral("Update v1.3.0"));
    windows->preferences().window()->close();
}

TEST_F(UpdateSheetTest, APackagedCopyTellsOfTheNewerVersionAndLeavesItToThePackageManager)
{
    // Installed as the package installs it: <prefix>/bin with the mark in share/vorlik-desktop.
    QTemporaryDir prefix;
    writeFile(prefix.filePath(QStringLiteral("share/vorlik-desktop/package-managed")), "installed by a package\n");
    updater().setInstallationForTesting(update::Installation::of(prefix.filePath(QStringLiteral("bin/vorlik-desktop"))));
    const QString note = QStringLiteral("This copy of Vorlik Desktop was installed by the package manager, so its updates come "
                                        "through the package manager: install the newer vorlik-desktop package the way you "
                                        "installed this one.");
    publish(QStringLiteral("1.2.25"), 28);
    // Automatic updates on: the start-up check finds the newer version and downloads nothing.
    Settings::standard().setOverride(QStringLiteral("autoUpdate"), QStringLiteral("YES"));
    showAndSettle();

    ASSERT_EQ(updater().phase().kind, UpdatePhase::Kind::available) << updater().phase().debugText().toStdString();
    ASSERT_TRUE(view->updateBadge()->isVisible());
    QTest::mouseClick(view->updateBadge(), Qt::LeftButton);
    ASSERT_TRUE(sheet()->isVisible());
    EXPECT_EQ(sheet()->statusLabel()->text(), QStringLiteral("1.2.25 (build 28) is available — you have 1.2.24"));
    EXPECT_TRUE(sheet()->notesView()->isVisible());
    EXPECT_TRUE(sheet()->packageNoteLabel()->isVisible());
    EXPECT_EQ(sheet()->packageNoteLabel()->text(), note);
    EXPECT_FALSE(sheet()->downloadButton()->isVisible());
    EXPECT_FALSE(sheet()->installButton()->isVisible());
    saveScreenshot(sheet(), QStringLiteral("update-sheet-package-managed"));
    QTest::mouseClick(sheet()->closeButton(), Qt::LeftButton);

    windows->showPreferences();
    app::UpdatesSection *section = windows->preferences().view()->updates();
    EXPECT_TRUE(section->packageNoteLabel()->isVisible());
    EXPECT_EQ(section->packageNoteLabel()->text(), note);
    EXPECT_TRUE(section->stateLabel()->isVisible());
    EXPECT_EQ(section->stateLabel()->text(), QStringLiteral("1.2.25 (build 28) is available — you have 1.2.24"));
    saveScreenshot(section, QStringLiteral("preferences-updates-package-managed"));
    windows->preferences().window()->close();
    for (const QJsonValue &request : updateServer().requests())
        EXPECT_NE(request.toObject().value(QStringLiteral("path")).toString(), QStringLiteral("/tools/desktop/update.dmg"));
}

TEST_F(UpdateSheetTest, ALooseCopyTellsOfTheNewerVersionAndOffersNoDownload)
{
    updater().setInstallationForTesting(update::Installation::current()); // this test binary, in the build folder
    publish(QStringLiteral("1.2.25"), 28);
    showAndSettle();

    ASSERT_EQ(run(updater().check()).kind, UpdatePhase::Kind::available);
    updater().setShowSheet(true);
    ASSERT_TRUE(sheet()->isVisible());
    EXPECT_EQ(sheet()->statusLabel()->text(), QStringLiteral("1.2.25 (build 28) is available — you have 1.2.24"));
    EXPECT_FALSE(sheet()->downloadButton()->isVisible());
    EXPECT_FALSE(sheet()->packageNoteLabel()->isVisible());
    updater().downloadAvailable();
    EXPECT_TRUE(updater().phase().is(UpdatePhase::Kind::available));
}

TEST(UpdatesSectionText, NamesEachStateOfTheUpdate)
{
    update::Manifest manifest;
    manifest.version = QStringLiteral("1.2.25");
    EXPECT_EQ(app::UpdatesSection::stateText(UpdatePhase::downloading(0.4), QStringLiteral("x")),
              QStringLiteral("Downloading the update…"));
    EXPECT_EQ(app::UpdatesSection::stateText(UpdatePhase::upToDate(), QStringLiteral("x")),
              QStringLiteral("You're up to date."));
    EXPECT_EQ(app::UpdatesSection::stateText(UpdatePhase::downloaded(manifest, QStringLiteral("/tmp/u.dmg")), QStringLiteral("x")),
              QStringLiteral("1.2.25 is downloaded and verified."));
    EXPECT_EQ(app::UpdatesSection::stateText(UpdatePhase::error(QStringLiteral("Boom.")), QStringLiteral("Boom.")),
              QStringLiteral("Boom."));
    EXPECT_EQ(app::UpdatesSection::stateText(UpdatePhase::idle(), QString()), QString());
}

TEST_F(UpdateSheetTest, TheStartupHooksShowCheckDownloadAndTryToInstall)
{
    publish(QStringLiteral("1.2.25"), 28);
    Settings &settings = Settings::standard();
    for (const char *hook : {"showUpdates", "autoUpdate", "autoInstall"})
        settings.setOverride(QString::fromLatin1(hook), QStringLiteral("YES"));
    // Work is running, so the install the hooks ask for is refused rather than carried out.
    app::ActiveJobs::shared().begin(QStringLiteral("Analysis"));
    showAndSettle();
    EXPECT_TRUE(sheet()->isVisible());
    EXPECT_EQ(updater().phase(), UpdatePhase::error(stopWorkFirst));
    EXPECT_EQ(requestsTo(QStringLiteral("/tools/desktop/update.dmg")).size(), 0); // the shell's own service
    bool downloaded = false;
    for (const QJsonValue &request : updateServer().requests())
        downloaded = downloaded || request.toObject().value(QStringLiteral("path")).toString() == QLatin1String("/tools/desktop/update.dmg");
    EXPECT_TRUE(downloaded);
}

} // namespace
} // namespace vorlik::test
