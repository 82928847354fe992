// The ffmpeg install sheet over the stand-in service's downloads: its texts, the install button
// that installs and closes it, the failure text that keeps it open, "Choose…" with its message,
// and the Homebrew button offered only when that program exists. Screenshots of the sheet go to
// build/screenshots.
#include "ffmpeg/FFmpegInstallSheet.h"
#include "ffmpeg/FFmpegInstaller.h"
#include "ffmpeg/FFmpegLocator.h"
#include "platform/ServiceConfig.h"
#include "tests/support/DevServer.h"
#include "tests/support/Screenshots.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>

using vorlik::ffmpeg::FFmpegInstaller;
using vorlik::ffmpeg::FFmpegInstallSheet;
using vorlik::ffmpeg::FFmpegLocator;
using vorlik::platform::ServiceConfig;
using vorlik::test::DevServer;
using vorlik::test::saveScreenshot;
using vorlik::test::settle;

namespace {

bool waitUntil(const std::function<bool()> &done, int capMs = 30000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > capMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class FFmpegInstallSheetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { DevServer::trustTestCA(); }

    void SetUp() override
    {
        server().reset();
        server().useAsService();
        QUrl fallback = server().baseUrl();
        fallback.setHost(QStringLiteral("localhost"));
        ServiceConfig::setFFmpegFallbackOriginForTesting(fallback);
        QDir(FFmpegLocator::toolsDir()).removeRecursively();
        m_window.resize(900, 600);
        m_window.show();
    }
    void TearDown() override { ServiceConfig::setFFmpegFallbackOriginForTesting({}); }

    static DevServer &server() { return DevServer::sharedTls(); }

    QWidget m_window; // the window the sheet belongs to
};

TEST_F(FFmpegInstallSheetTest, ShowsItsExplanationAndCancelClosesWithoutInstalling)
{
    FFmpegInstallSheet sheet(&m_window);
    QSignalSpy installed(&sheet, &FFmpegInstallSheet::installed);
    sheet.present();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet.explanationLabel()->text(), FFmpegInstaller::explanation());
    EXPECT_TRUE(sheet.phaseLabel()->isHidden()) << "nothing to say while idle";
    EXPECT_TRUE(sheet.busyIndicator()->isHidden());
    EXPECT_EQ(sheet.homebrewButton()->isVisible(), QFileInfo(QStringLiteral("/opt/homebrew/bin/ffmpeg")).isExecutable())
        << "offered only when that program exists";
    EXPECT_TRUE(saveScreenshot(&sheet, QStringLiteral("ffmpeg-install-sheet")));

    QTest::mouseClick(sheet.closeButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
    settle(100);
    EXPECT_TRUE(installed.isEmpty());
    EXPECT_TRUE(server().requests().isEmpty());
}

TEST_F(FFmpegInstallSheetTest, AFailedInstallSaysWhyAndKeepsTheSheetOpenAndOneThatWorksClosesIt)
{
    const QString failed = QStringLiteral("Could not install ffmpeg: Download failed (ffmpeg.zip).");
    for (const QString &path : {QStringLiteral("/tools/ffmpeg/ffmpeg.zip"), ServiceConfig::ffmpegFallbackPath(QSysInfo::currentCpuArchitecture())})
        server().addFault(QJsonObject{{"method", "GET"}, {"path", path}, {"action", "status"}, {"status", 404}});
    FFmpegInstallSheet sheet(&m_window);
    QSignalSpy installed(&sheet, &FFmpegInstallSheet::installed);
    sheet.present();
    QTest::mouseClick(sheet.installButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !sheet.installer().isBusy(); }));
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.phaseLabel()->text(), failed);
    EXPECT_FALSE(sheet.phaseLabel()->isHidden());
    EXPECT_FALSE(QFileInfo::exists(FFmpegLocator::managedCopy()));
    EXPECT_TRUE(saveScreenshot(&sheet, QStringLiteral("ffmpeg-install-sheet-failed")));
    // Shown again later, it is the same sheet, still saying what happened last.
    sheet.reject();
    sheet.present();
    EXPECT_EQ(sheet.phaseLabel()->text(), failed);

    // The user may start again.
    server().clearFaults();
    QStringList phases;
    QObject::connect(&sheet.installer(), &FFmpegInstaller::phaseChanged, &sheet, [&] { phases << sheet.phaseLabel()->text(); });
    QTest::mouseClick(sheet.installButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet.installButton()->isEnabled()) << "one install at a time";
    EXPECT_FALSE(sheet.busyIndicator()->isHidden());
    ASSERT_TRUE(waitUntil([&] { return !installed.isEmpty(); })) << sheet.phaseLabel()->text().toStdString();
    EXPECT_EQ(installed.front().front().toString(), FFmpegLocator::managedCopy());
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(phases, (QStringList{"Downloading ffmpeg\u2026", "Installing into " + FFmpegInstaller::toolsFolderDisplayName() + "\u2026"}));
    EXPECT_TRUE(FFmpegLocator::isExecutableFile(FFmpegLocator::managedCopy()));
}

TEST_F(FFmpegInstallSheetTest, ChooseAsksForAProgramAndRefusesOneThatIsNotFFmpeg)
{
    FFmpegInstallSheet sheet(&m_window);
    QSignalSpy installed(&sheet, &FFmpegInstallSheet::installed);
    sheet.present();
    QTest::mouseClick(sheet.chooseButton(), Qt::LeftButton);
    QFileDialog *dialog = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (dialog = sheet.findChild<QFileDialog *>(QStringLiteral("chooseFFmpegDialog"))); }));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Choose an ffmpeg binary to copy into ")
                                         + FFmpegInstaller::toolsFolderDisplayName() + u'.');
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);

    // A program that is not ffmpeg: refused with the reason, nothing installed.
    dialog->selectFile(QStringLiteral("/bin/true"));
    static_cast<QDialog *>(dialog)->accept();
    ASSERT_TRUE(waitUntil([&] { return !sheet.installer().isBusy() && !sheet.phaseLabel()->text().isEmpty(); }));
    EXPECT_EQ(sheet.phaseLabel()->text(), QStringLiteral("Could not install ffmpeg: The chosen binary is not a working ffmpeg."));
    EXPECT_TRUE(installed.isEmpty());
    EXPECT_TRUE(sheet.isVisible());
}

} // namespace
