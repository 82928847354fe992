#include "app/ActiveJobs.h"
#include "app/PreferencesView.h"
#include "app/PreferencesWindowController.h"
#include "app/UpdateBadge.h"
#include "app/UpdateSheet.h"
#include "app/UpdatesSection.h"
#include "tests/app/ShellWindowTest.h"
#include "tests/support/UpdateServer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QPlainTextEdit>
#include <QProgressBar>

namespace vorlik::test {
namespace {

using platform::Settings;
using update::UpdatePhase;

const QString stopWorkFirst = QStringLiteral("Stop active conversions/analysis before installing the update.");
const QString available = QStringLiteral("1.2.25 (build 28) is available — you have 1.2.24");
const QString imagePath = QStringLiteral("/tools/desktop/update.dmg");

// Puts an image and a latest.json describing it on the update service.
void publish(const QString &version, qint64 build)
{
    const QByteArray image(300000, 'v');
    writeFile(updatesFolder() + "/update.dmg", image);
    const QJsonObject manifest{{"version", version}, {"build", build}, {"dmg", updateURL("update.dmg").toString()},
                               {"sha256", QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex())},
                               {"notes", "Faster analysis uploads.\nThe Convert page remembers its presets."}};
    writeFile(updatesFolder() + "/latest.json", QJsonDocument(manifest).toJson());
}

class UpdateSheetTest : public ShellWindowTest {
protected:
    void SetUp() override
    {
        ShellWindowTest::SetUp();
        updateServer().reset();
        Settings::standard().setOverride(QStringLiteral("updateManifestURL"), updateURL("latest.json").toString());
        // The automatic check has run recently: only what a test asks for is checked.
        Settings::standard().setValue(QStringLiteral("lastUpdateCheckSuccess"), QDateTime::currentDateTime());
        // Run as a bundle, the form that updates itself (nothing here installs into it).
        updater().setCurrentAppForTesting(QStringLiteral(VORLIK_APP_BUNDLE));
    }

    void TearDown() override
    {
        updater().setShowSheet(false);
        if (updater().phase().is(UpdatePhase::Kind::downloaded))
            QFile::remove(updater().phase().path);
        updater().setInstallationForTesting(update::Installation::current());
        for (const QString &key : QSet<QString>(app::ActiveJobs::shared().runningKeys())) // a copy: end() changes the set
            app::ActiveJobs::shared().end(key);
        ShellWindowTest::TearDown();
    }

    static update::UpdateManager &updater() { return update::UpdateManager::shared(); }
    app::UpdateSheet *sheet() const { return view->updateSheet(); }
    app::UpdatesSection *preferencesSection() const { return windows->preferences().view()->updates(); }
};

TEST_F(UpdateSheetTest, ANewerVersionIsShownDownloadedAndItsInstallWaitsForRunningWork)
{
    publish("1.2.25", 28);
    shownView();
    windows->showPreferences(); // its section follows the update too
    windows->preferences().window()->hide();
    EXPECT_FALSE(view->updateBadge()->isVisible());
    ASSERT_EQ(run(updater().check()).kind, UpdatePhase::Kind::available);
    ASSERT_TRUE(view->updateBadge()->isVisible());
    EXPECT_EQ(view->updateBadge()->text(), "Update v1.2.25");
    saveScreenshot(view.get(), "main-update-badge");

    QTest::mouseClick(view->updateBadge(), Qt::LeftButton);
    ASSERT_TRUE(sheet()->isVisible());
    EXPECT_EQ(sheet()->statusLabel()->text(), available);
    EXPECT_EQ(sheet()->notesView()->toPlainText(), "Faster analysis uploads.\nThe Convert page remembers its presets.");
    EXPECT_TRUE(sheet()->downloadButton()->isVisible());
    EXPECT_FALSE(sheet()->installButton()->isVisible() || sheet()->packageNoteLabel()->isVisible());
    saveScreenshot(sheet(), "update-sheet-available");

    // The image answers late: the sheet shows the download under way meanwhile.
    updateServer().addFault({{"method", "GET"}, {"path", imagePath}, {"action", "delay"}, {"delay_ms", 1500}});
    QTest::mouseClick(sheet()->downloadButton(), Qt::LeftButton);
    ASSERT_TRUE(updater().phase().is(UpdatePhase::Kind::downloading));
    EXPECT_TRUE(sheet()->progressBar()->isVisible() && !sheet()->downloadButton()->isVisible());
    EXPECT_EQ(preferencesSection()->stateLabel()->text(), "Downloading the update…");
    EXPECT_FALSE(preferencesSection()->checkButton()->isEnabled());
    saveScreenshot(sheet(), "update-sheet-downloading");

    ASSERT_TRUE(QTest::qWaitFor([&] { return !updater().phase().is(UpdatePhase::Kind::downloading); }, 30000));
    ASSERT_TRUE(updater().phase().is(UpdatePhase::Kind::downloaded)) << updater().phase().debugText().toStdString();
    EXPECT_EQ(sheet()->statusLabel()->text(), "1.2.25 is downloaded and verified.");
    EXPECT_EQ(preferencesSection()->stateLabel()->text(), "1.2.25 is downloaded and verified.");
    EXPECT_TRUE(sheet()->installButton()->isVisible() && sheet()->explanationLabel()->isVisible());
    saveScreenshot(sheet(), "update-sheet-downloaded");
    const QString image = updater().phase().path;

    app::ActiveJobs::shared().begin("Conversion");
    QTest::mouseClick(sheet()->installButton(), Qt::LeftButton);
    EXPECT_EQ(updater().phase(), UpdatePhase::error(stopWorkFirst));
    EXPECT_EQ(sheet()->statusLabel()->text(), stopWorkFirst);
    EXPECT_EQ(preferencesSection()->stateLabel()->text(), stopWorkFirst);
    EXPECT_TRUE(sheet()->checkButton()->isVisible());
    saveScreenshot(sheet(), "update-sheet-error");
    QFile::remove(image);

    QTest::mouseClick(sheet()->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet()->isVisible() || updater().showSheet());
}

TEST_F(UpdateSheetTest, CheckAgainSaysUpToDateAndPreferencesFindANewerVersionThatALooseCopyDoesNotDownload)
{
    updater().setInstallationForTesting(update::Installation::current()); // this test binary, in the build folder
    publish("1.2.24", 27);
    shownView();
    updater().setShowSheet(true);
    ASSERT_TRUE(sheet()->isVisible());
    QTest::mouseClick(sheet()->checkButton(), Qt::LeftButton);
    EXPECT_EQ(sheet()->statusLabel()->text(), "Checking for updates…");
    ASSERT_TRUE(QTest::qWaitFor([&] { return updater().phase().is(UpdatePhase::Kind::upToDate); }, 30000));
    EXPECT_EQ(sheet()->statusLabel()->text(), "You're up to date — 1.2.24");
    EXPECT_FALSE(sheet()->notesView()->isVisible() || view->updateBadge()->isVisible());
    saveScreenshot(sheet(), "update-sheet-up-to-date");
    // Setting showSheet false from elsewhere closes the sheet too.
    updater().setShowSheet(false);
    EXPECT_FALSE(sheet()->isVisible());

    windows->showPreferences();
    EXPECT_EQ(preferencesSection()->stateLabel()->text(), "You're up to date.");
    publish("1.3.0", 40);
    QTest::mouseClick(preferencesSection()->checkButton(), Qt::LeftButton);
    EXPECT_FALSE(preferencesSection()->checkButton()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return updater().phase().is(UpdatePhase::Kind::available); }, 30000));
    EXPECT_TRUE(preferencesSection()->checkButton()->isEnabled());
    EXPECT_EQ(preferencesSection()->stateLabel()->text(), "1.3.0 (build 40) is available — you have 1.2.24");
    EXPECT_FALSE(preferencesSection()->packageNoteLabel()->isVisible());
    EXPECT_EQ(view->updateBadge()->text(), "Update v1.3.0");
    windows->preferences().window()->close();

    // A loose copy has nothing to swap: the sheet offers no download, and none starts.
    QTest::mouseClick(view->updateBadge(), Qt::LeftButton);
    ASSERT_TRUE(sheet()->isVisible());
    EXPECT_FALSE(sheet()->downloadButton()->isVisible() || sheet()->packageNoteLabel()->isVisible());
    updater().downloadAvailable();
    EXPECT_TRUE(updater().phase().is(UpdatePhase::Kind::available));
    EXPECT_EQ(updateRequestsUnder(imagePath), 0);
}

TEST_F(UpdateSheetTest, APackagedCopyTellsOfTheNewerVersionAndLeavesItToThePackageManager)
{
    // Installed as the package installs it: <prefix>/bin with the mark in share/vorlik-desktop.
    QTemporaryDir prefix;
    writeFile(prefix.filePath("share/vorlik-desktop/package-managed"), "installed by a package\n");
    updater().setInstallationForTesting(update::Installation::of(prefix.filePath("bin/vorlik-desktop")));
    publish("1.2.25", 28);
    // Automatic updates on: the start-up check finds the newer version and downloads nothing.
    Settings::standard().setOverride("autoUpdate", "YES");
    shownView();
    ASSERT_EQ(updater().phase().kind, UpdatePhase::Kind::available) << updater().phase().debugText().toStdString();
    QTest::mouseClick(view->updateBadge(), Qt::LeftButton);
    ASSERT_TRUE(sheet()->isVisible());
    EXPECT_EQ(sheet()->statusLabel()->text(), available);
    EXPECT_TRUE(sheet()->notesView()->isVisible() && sheet()->packageNoteLabel()->isVisible());
    EXPECT_FALSE(sheet()->downloadButton()->isVisible() || sheet()->installButton()->isVisible());
    saveScreenshot(sheet(), "update-sheet-package-managed");
    QTest::mouseClick(sheet()->closeButton(), Qt::LeftButton);

    windows->showPreferences();
    EXPECT_TRUE(preferencesSection()->packageNoteLabel()->isVisible() && preferencesSection()->stateLabel()->isVisible());
    EXPECT_EQ(preferencesSection()->stateLabel()->text(), available);
    saveScreenshot(preferencesSection(), "preferences-updates-package-managed");
    windows->preferences().window()->close();
    EXPECT_EQ(updateRequestsUnder(imagePath), 0);
}

TEST_F(UpdateSheetTest, TheStartupHooksShowCheckDownloadAndTryToInstall)
{
    publish("1.2.25", 28);
    for (const char *hook : {"showUpdates", "autoUpdate", "autoInstall"})
        Settings::standard().setOverride(hook, "YES");
    // Work is running, so the install the hooks ask for is refused rather than carried out.
    app::ActiveJobs::shared().begin("Analysis");
    shownView();
    EXPECT_TRUE(sheet()->isVisible());
    EXPECT_EQ(updater().phase(), UpdatePhase::error(stopWorkFirst));
    EXPECT_EQ(requestsTo(imagePath).size(), 0); // the shell's own service
    EXPECT_EQ(updateRequestsUnder(imagePath), 1);
}

} // namespace
} // namespace vorlik::test
