// The settings window: its texts, the stored settings it writes, diagnostics switched on and
// off (the last line reaches the file), the export, and the ffmpeg it finds.
#include "app/AccountSection.h"
#include "app/AppWindows.h"
#include "app/LightPalette.h"
#include "app/ConversionToolsSection.h"
#include "app/DiagnosticsSection.h"
#include "app/OutputSection.h"
#include "app/PreferencesView.h"
#include "app/PreferencesWindowController.h"
#include "app/ToggleSwitch.h"
#include "convert/ConvertRunner.h"
#include "diagnostics/DiagnosticsLogger.h"
#include "ffmpeg/FFmpegInstallSheet.h"
#include "ffmpeg/FFmpegLocator.h"
#include "platform/Settings.h"
#include "service/KeychainStore.h"
#include "tests/app/ShellTestSupport.h"
#include "update/UpdateManager.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace vorlik::test {
namespace {

using diagnostics::DiagnosticsLogger;
using platform::Settings;

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app::LightPalette::apply(); // as the application shows itself
        Settings &settings = Settings::standard();
        for (const char *key : {"exportLocation", "exportFolderPath", "ffmpegPathOverride"})
            settings.remove(QString::fromLatin1(key));
        windows = std::make_unique<app::AppWindows>(settings, DiagnosticsLogger::shared(), update::UpdateManager::shared());
        windows->showPreferences();
        view = windows->preferences().view();
    }

    void TearDown() override
    {
        windows.reset();
        service::KeychainStore::remove();
        Settings::standard().clearOverrides();
    }

    QStringList labelTexts() const
    {
        QStringList texts;
        for (QLabel *label : windows->preferences().window()->findChildren<QLabel *>())
            texts.append(label->text());
        return texts;
    }

    static QString lastLineOf(const QString &path)
    {
        QStringList lines = QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines.isEmpty() ? QString() : lines.last();
    }

    std::unique_ptr<app::AppWindows> windows;
    app::PreferencesView *view = nullptr;
};

TEST_F(PreferencesTest, IsOneWindowWithTheSectionsInOrder)
{
    QWidget *window = windows->preferences().window();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vorlik Desktop Settings"));
    EXPECT_EQ(window->size(), QSize(600, 420));
    windows->showPreferences();
    EXPECT_EQ(windows->preferences().window(), window);

    QStringList sections;
    for (QLabel *label : window->findChildren<QLabel *>(QStringLiteral("sectionTitle")))
        sections.append(label->text());
    EXPECT_EQ(sections, (QStringList{QStringLiteral("Account"), QStringLiteral("Output"),
                                     QStringLiteral("Conversion tools"), QStringLiteral("Updates"),
                                     QStringLiteral("Diagnostics")}));

    const QStringList texts = labelTexts();
    for (const char *expected :
         {"Stored securely in your system keyring. Clear removes it. Remember is separate from the current "
          "session's Sign out.",
          "Converted files are written next to each source file.",
          "Leave blank to use the managed copy in ~/.local/share/Vorlik/FFmpegTools, then Homebrew.",
          "Constantly records app activity to a local file — off by default. Switch on only when asked, "
          "then export the TXT and send it over.",
          "The log stays on this computer — it is never uploaded."})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(expected))) << expected;
    saveScreenshot(window, QStringLiteral("preferences"));
    auto *scroll = window->findChild<QScrollArea *>(QStringLiteral("preferencesScroll"));
    ASSERT_NE(scroll, nullptr);
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    saveScreenshot(window, QStringLiteral("preferences-bottom"));
    scroll->verticalScrollBar()->setValue(0);
}

TEST_F(PreferencesTest, TheOutputPickerStoresWhereConvertedFilesGo)
{
    app::OutputSection *output = view->output();
    EXPECT_TRUE(output->sameAsSourceButton()->isChecked());
    EXPECT_FALSE(output->chooseFolderButton()->isVisible());

    QTest::mouseClick(output->customFolderButton(), Qt::LeftButton);
    EXPECT_EQ(Settings::standard().exportLocation(), QStringLiteral("customFolder"));
    EXPECT_TRUE(output->chooseFolderButton()->isVisible());
    EXPECT_EQ(output->folderLabel()->text(), QStringLiteral("No folder chosen"));
    EXPECT_TRUE(labelTexts().contains(
        QStringLiteral("Converted files are written into this folder (unique names are used to avoid overwriting).")));

    QTemporaryDir folder;
    output->setFolder(folder.path());
    EXPECT_EQ(Settings::standard().exportFolderPath(), folder.path());
    EXPECT_EQ(output->folderLabel()->text(), folder.path());
    saveScreenshot(windows->preferences().window(), QStringLiteral("preferences-chosen-folder"));

    QTest::mouseClick(output->sameAsSourceButton(), Qt::LeftButton);
    EXPECT_EQ(Settings::standard().exportLocation(), QStringLiteral("sameAsSource"));
    EXPECT_EQ(Settings::standard().exportFolderPath(), folder.path()); // kept for the next time
}

TEST_F(PreferencesTest, TheDetectedFFmpegFollowsTheOverride)
{
    app::ConversionToolsSection *tools = view->conversionTools();
    ASSERT_TRUE(waitUntil([&] { return !tools->isDetecting(); }));
    // Debian's ffmpeg is on PATH here.
    ASSERT_TRUE(tools->detectedVersion().has_value());
    EXPECT_TRUE(tools->detectedVersion()->startsWith(QStringLiteral("ffmpeg version"))) << tools->detectedVersion()->toStdString();
    EXPECT_EQ(tools->versionLabel()->text(), *tools->detectedVersion());
    EXPECT_FALSE(tools->warningRow()->isVisible());

    // An override that is not a program is ignored; one that is not ffmpeg finds nothing.
    QTemporaryDir folder;
    const QString fake = folder.filePath(QStringLiteral("not-ffmpeg"));
    writeFile(fake, "#!/bin/sh\nexit 3\n");
    QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QTest::keyClicks(tools->overrideField(), fake);
    EXPECT_EQ(Settings::standard().ffmpegPathOverride(), fake);
    ASSERT_TRUE(waitUntil([&] { return !tools->detectedVersion().has_value() && !tools->isDetecting(); }));
    EXPECT_EQ(tools->versionLabel()->text(), QStringLiteral("(not found — use Install FFmpeg on the Convert page)"));
    EXPECT_TRUE(tools->warningRow()->isVisible());
    EXPECT_EQ(tools->installButton()->text(), QStringLiteral("Install FFmpeg…"));
    EXPECT_TRUE(labelTexts().contains(QStringLiteral("Conversions won't work until FFmpeg is installed.")));
    saveScreenshot(windows->preferences().window(), QStringLiteral("preferences-no-ffmpeg"));

    QTest::mouseClick(tools->resetButton(), Qt::LeftButton);
    EXPECT_TRUE(tools->overrideField()->text().isEmpty());
    EXPECT_TRUE(Settings::standard().ffmpegPathOverride().isEmpty());
    ASSERT_TRUE(waitUntil([&] { return tools->detectedVersion().has_value(); }));
    EXPECT_FALSE(tools->warningRow()->isVisible());

    // Simultaneous conversions: one at a time unless asked, at most one per processor core.
    QSpinBox *simultaneous = tools->simultaneousField();
    EXPECT_EQ(simultaneous->value(), 1);
    EXPECT_EQ(simultaneous->minimum(), 1);
    EXPECT_EQ(simultaneous->maximum(), convert::ConvertRunner::maximumSimultaneousConversions());
    simultaneous->setValue(simultaneous->maximum());
    EXPECT_EQ(convert::ConvertRunner::simultaneousConversions(Settings::standard()), simultaneous->maximum());
    Settings::standard().remove(QStringLiteral("simultaneousConversions"));
}

TEST_F(PreferencesTest, InstallFFmpegOpensTheInstallSheetOverTheSettingsWindow)
{
    app::ConversionToolsSection *tools = view->conversionTools();
    app::PreferencesWindowController &preferences = windows->preferences();
    EXPECT_EQ(preferences.installSheet(), nullptr) << "made on first use";
    QTest::mouseClick(tools->installButton(), Qt::LeftButton);
    ffmpeg::FFmpegInstallSheet *sheet = preferences.installSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->window()->parentWidget(), preferences.window());
    sheet->reject();
    QTest::mouseClick(tools->installButton(), Qt::LeftButton);
    EXPECT_EQ(preferences.installSheet(), sheet) << "kept and shown again";

    // A program chosen in the sheet is installed; the section finds it.
    QTest::mouseClick(sheet->chooseButton(), Qt::LeftButton);
    QFileDialog *dialog = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (dialog = sheet->findChild<QFileDialog *>(QStringLiteral("chooseFFmpegDialog"))); }));
    dialog->selectFile(QStringLiteral("/usr/bin/ffmpeg"));
    static_cast<QDialog *>(dialog)->accept();
    ASSERT_TRUE(waitUntil([&] { return !sheet->isVisible(); })) << sheet->phaseLabel()->text().toStdString();
    EXPECT_TRUE(ffmpeg::FFmpegLocator::isExecutableFile(ffmpeg::FFmpegLocator::managedCopy()));
    ASSERT_TRUE(waitUntil([&] { return !tools->isDetecting() && tools->detectedVersion().has_value(); }));
    EXPECT_TRUE(tools->detectedVersion()->startsWith(QStringLiteral("ffmpeg version")));
    QDir(ffmpeg::FFmpegLocator::toolsDir()).removeRecursively();
}

TEST_F(PreferencesTest, SwitchingDiagnosticsOffWritesTheLastLineBeforeClosing)
{
    Settings::standard().setValue(QStringLiteral("vorlikDiag"), false);
    DiagnosticsLogger &logger = DiagnosticsLogger::shared();
    logger.stop();
    app::DiagnosticsSection *section = view->diagnostics();
    EXPECT_FALSE(section->loggingSwitch()->isChecked());

    QTest::mouseClick(section->loggingSwitch(), Qt::LeftButton);
    EXPECT_TRUE(section->loggingSwitch()->isChecked());
    EXPECT_TRUE(Settings::standard().diagnosticsEnabled());
    EXPECT_EQ(section->diagnosticsNote(), QStringLiteral("Logging on — everything the app does is now recorded."));
    logger.drain(); // the file opens...
    logger.drain(); // ...and then the session-start line is queued behind it
    EXPECT_TRUE(lastLineOf(logger.logFilePath()).contains(QStringLiteral("[diagnostics] "))) << lastLineOf(logger.logFilePath()).toStdString();

    QTest::mouseClick(section->loggingSwitch(), Qt::LeftButton);
    EXPECT_FALSE(section->loggingSwitch()->isChecked());
    EXPECT_FALSE(Settings::standard().diagnosticsEnabled());
    EXPECT_EQ(section->diagnosticsNote(), QStringLiteral("Logging off."));
    logger.drain();
    EXPECT_TRUE(lastLineOf(logger.logFilePath()).endsWith(QStringLiteral(" [diagnostics] disabled from Preferences")))
        << lastLineOf(logger.logFilePath()).toStdString();
    const QString content = QString::fromUtf8(readFile(logger.logFilePath()));
    EXPECT_TRUE(content.contains(QStringLiteral("[diagnostics] enabled from Preferences")));

    // The file is closed: what is logged from now on does not reach it.
    const qint64 size = QFileInfo(logger.logFilePath()).size();
    logger.log(QStringLiteral("ui"), QStringLiteral("after switching off"));
    logger.drain();
    EXPECT_EQ(QFileInfo(logger.logFilePath()).size(), size);
}

TEST_F(PreferencesTest, TheExportWritesTheLogAndNamesTheFile)
{
    Settings::standard().setValue(QStringLiteral("vorlikDiag"), true);
    DiagnosticsLogger::shared().startIfEnabled();
    DiagnosticsLogger::shared().log(QStringLiteral("ui"), QStringLiteral("a line to export"));
    app::DiagnosticsSection *section = view->diagnostics();
    EXPECT_EQ(section->exportButton()->text(), QStringLiteral("Export Vorlik Logs"));

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Vorlik-Logs.txt"));
    section->exportTo(path);
    EXPECT_FALSE(section->exportButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !section->isExporting(); }));
    EXPECT_TRUE(section->exportButton()->isEnabled());
    EXPECT_EQ(section->diagnosticsNote(), QStringLiteral("Exported — attach Vorlik-Logs.txt to your report."));
    const QString exported = QString::fromUtf8(readFile(path));
    EXPECT_TRUE(exported.startsWith(QStringLiteral("Vorlik Log — ")));
    EXPECT_TRUE(exported.contains(QStringLiteral("[ui] a line to export")));

    // A folder that does not exist cannot take it: the note says so and nothing is claimed.
    const QString impossible = folder.filePath(QStringLiteral("missing/Vorlik-Logs.txt"));
    section->exportTo(impossible);
    ASSERT_TRUE(waitUntil([&] { return !section->isExporting(); }));
    EXPECT_EQ(section->diagnosticsNote(), QStringLiteral("Could not export the log to ") + impossible + QLatin1Char('.'));
    EXPECT_FALSE(QFile::exists(impossible));
    EXPECT_TRUE(app::DiagnosticsSection::suggestedExportName().startsWith(QStringLiteral("Vorlik-Logs-")));
    EXPECT_TRUE(app::DiagnosticsSection::suggestedExportName().endsWith(QStringLiteral(".txt")));
}

TEST_F(PreferencesTest, RememberWithOnlySpacesAsksForAKeyAndLeavesTheKeyringAlone)
{
    using service::KeychainStore;
    ASSERT_EQ(KeychainStore::save(QStringLiteral("vk_stored_before")), KeychainStore::Result::success());
    app::AccountSection *account = view->account();
    EXPECT_EQ(account->keyField()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(account->keyField()->placeholderText(), QStringLiteral("Paste your client key"));

    QTest::keyClicks(account->keyField(), QStringLiteral("    "));
    QTest::mouseClick(account->rememberButton(), Qt::LeftButton);
    EXPECT_EQ(account->keyNote(), QStringLiteral("Enter a client key first."));
    EXPECT_FALSE(account->isKeychainBusy()); // nothing was started
    EXPECT_EQ(KeychainStore::load(), QStringLiteral("vk_stored_before"));
}

TEST_F(PreferencesTest, RememberStoresTheTrimmedKeyWithTheButtonsDisabledMeanwhile)
{
    using service::KeychainStore;
    KeychainStore::remove();
    app::AccountSection *account = view->account();
    account->keyField()->setText(QStringLiteral("\t vk_typed_key_123 \n"));
    QTest::mouseClick(account->rememberButton(), Qt::LeftButton);
    // The keyring answers on its own thread: until then neither button can be pressed.
    EXPECT_TRUE(account->isKeychainBusy());
    EXPECT_FALSE(account->rememberButton()->isEnabled());
    EXPECT_FALSE(account->clearButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !account->isKeychainBusy(); }));
    EXPECT_TRUE(account->rememberButton()->isEnabled());
    EXPECT_TRUE(account->clearButton()->isEnabled());
    EXPECT_EQ(account->keyNote(), QStringLiteral("Saved — the app connects with this key automatically on launch."));
    EXPECT_EQ(KeychainStore::load(), QStringLiteral("vk_typed_key_123"));
    saveScreenshot(windows->preferences().window(), QStringLiteral("preferences-key-saved"));

    QTest::mouseClick(account->clearButton(), Qt::LeftButton);
    EXPECT_FALSE(account->rememberButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !account->isKeychainBusy(); }));
    EXPECT_EQ(account->keyNote(), QStringLiteral("Removed — the app will no longer auto-connect."));
    EXPECT_TRUE(account->keyField()->text().isEmpty());
    EXPECT_EQ(KeychainStore::load(), std::nullopt);
}

TEST_F(PreferencesTest, ClearWithNothingStoredStillSaysRemoved)
{
    using service::KeychainStore;
    ASSERT_EQ(KeychainStore::remove().kind, KeychainStore::Result::Case::alreadyAbsent);
    app::AccountSection *account = view->account();
    account->keyField()->setText(QStringLiteral("typed but never saved"));
    QTest::mouseClick(account->clearButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !account->isKeychainBusy(); }));
    EXPECT_EQ(account->keyNote(), QStringLiteral("Removed — the app will no longer auto-connect."));
    EXPECT_TRUE(account->keyField()->text().isEmpty());
}

} // namespace
} // namespace vorlik::test
