// The fallback host is reached as "localhost", so the install really changes hosts.
#include "ffmpeg/FFmpegInstallSheet.h"
#include "ffmpeg/FFmpegInstaller.h"
#include "ffmpeg/FFmpegLocator.h"
#include "ffmpeg/InstallError.h"
#include "platform/ServiceConfig.h"
#include "platform/Settings.h"
#include "tests/support/DevServer.h"
#include "tests/support/Screenshots.h"
#include "tests/support/TestArchive.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using vorlik::ffmpeg::FFmpegInstaller;
using vorlik::ffmpeg::FFmpegInstallSheet;
using vorlik::ffmpeg::FFmpegLocator;
using vorlik::ffmpeg::InstallError;
using vorlik::ffmpeg::InstallPhase;
using vorlik::platform::ServiceConfig;
using vorlik::test::ArchiveEntry;
using vorlik::test::ArchiveFormat;
using vorlik::test::DevServer;
using vorlik::test::readFile;
using vorlik::test::saveScreenshot;

namespace {

const QString primaryZip = QStringLiteral("/tools/ffmpeg/ffmpeg.zip");
const QString primarySums = QStringLiteral("/tools/ffmpeg/SHA256SUMS");
const QString wrongDigest = QStringLiteral("%1  ffmpeg.zip\n").arg(QString(64, u'0'));

QString fallbackZip() { return ServiceConfig::ffmpegFallbackPath(QSysInfo::currentCpuArchitecture()); }
QString fallbackSums() { return fallbackZip() + QStringLiteral(".sha256"); }

// A dropped connection hits every request to the path: Qt sends a request again when a
// connection closes before any answer.
QJsonObject fault(const QString &path, const QString &action, int status = 500, const QString &body = {})
{
    return {{"method", "GET"}, {"path", path}, {"action", action}, {"status", status},
            {"count", action == QLatin1String("close") ? -1 : 1}, {"body", body}};
}

// What one install did, as the sheet would have seen it.
struct Observed {
    QList<InstallPhase> phases;
    QStringList texts;
    QStringList installedSignals;
    int dismissals = 0;
};

class FFmpegInstallerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { DevServer::trustTestCA(); }

    void SetUp() override
    {
        QUrl fallback = server().baseUrl();
        fallback.setHost(QStringLiteral("localhost"));
        ServiceConfig::setFFmpegFallbackOriginForTesting(fallback);
        m_savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
        startOver({});
    }
    void TearDown() override
    {
        qputenv("TMPDIR", m_savedTmp);
        ServiceConfig::setFFmpegFallbackOriginForTesting({});
    }

    static DevServer &server() { return DevServer::sharedTls(); }

    // A fresh service with `faults`, and an earlier program in the tools folder.
    void startOver(const QList<QJsonObject> &faults)
    {
        server().reset();
        server().useAsService();
        for (const QJsonObject &spec : faults)
            server().addFault(spec);
        QDir(FFmpegLocator::toolsDir()).removeRecursively();
        QDir().mkpath(FFmpegLocator::toolsDir());
        vorlik::test::writeFile(FFmpegLocator::managedCopy(), "#!/bin/sh\necho 'ffmpeg version earlier'\n");
        ::chmod(QFile::encodeName(FFmpegLocator::managedCopy()).constData(), 0755);
        m_earlier = readFile(FFmpegLocator::managedCopy());
    }

    Observed install(FFmpegInstaller &installer)
    {
        Observed seen;
        QObject::connect(&installer, &FFmpegInstaller::phaseChanged, &installer, [&] {
            seen.phases << installer.phase();
            seen.texts << installer.statusText();
        });
        QObject::connect(&installer, &FFmpegInstaller::installed, &installer, [&](const QString &program) { seen.installedSignals << program; });
        QObject::connect(&installer, &FFmpegInstaller::dismissRequested, &installer, [&] { ++seen.dismissals; });
        vorlik::test::run(installer.installRecommended());
        return seen;
    }

    QStringList requestedPaths() const
    {
        QStringList paths;
        for (const QJsonValue &entry : server().requests())
            paths << entry.toObject().value(QStringLiteral("path")).toString();
        return paths;
    }

    QStringList leftoversInTemp() const { return QDir(m_temp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }

    QTemporaryDir m_temp;
    QByteArray m_savedTmp;
    QByteArray m_earlier;
};

TEST_F(FFmpegInstallerTest, TheServicesBuildComesFromThePrimarySourceOrTheFallbackHostWhenThatFails)
{
    const QStringList both{primaryZip, primarySums, fallbackZip(), fallbackSums()};
    const std::pair<QJsonObject, QStringList> cases[] = {
        {{}, {primaryZip, primarySums}},
        {fault(primarySums, "status", 200, wrongDigest), both}, // nothing unpacked from the rejected download
        {fault(primaryZip, "status", 404), {primaryZip, fallbackZip(), fallbackSums()}},
        {fault(primarySums, "status", 404), both},
        {fault(primaryZip, "close"), {}},
    };
    for (const auto &[failure, requested] : cases) {
        SCOPED_TRACE(failure.value("path").toString().toStdString() + " " + failure.value("action").toString().toStdString());
        startOver(failure.isEmpty() ? QList<QJsonObject>{} : QList<QJsonObject>{failure});
        FFmpegInstaller installer;
        const Observed seen = install(installer);
        ASSERT_EQ(installer.installedProgram(), FFmpegLocator::managedCopy()) << installer.phase().message.toStdString();
        EXPECT_EQ(seen.installedSignals, QStringList{FFmpegLocator::managedCopy()});
        EXPECT_EQ(seen.dismissals, 1);
        EXPECT_EQ(seen.phases, (QList<InstallPhase>{InstallPhase::downloading(), InstallPhase::extracting()}));
        EXPECT_EQ(seen.texts.value(0), QStringLiteral("Downloading ffmpeg…"));
        // The folder is shown as the user's home would write it.
        EXPECT_EQ(seen.texts.value(1), "Installing into ~" + FFmpegLocator::toolsDir().mid(QDir::homePath().size()) + "…");
        if (!requested.isEmpty())
            EXPECT_EQ(requestedPaths(), requested);
        else
            EXPECT_TRUE(requestedPaths().contains(fallbackZip())) << requestedPaths().join(u' ').toStdString();
        EXPECT_FALSE(installer.isBusy());
        EXPECT_EQ(leftoversInTemp(), QStringList());
        // The installed program is the machine's ffmpeg, working, from the managed folder.
        const std::optional<QString> version = vorlik::test::run(FFmpegLocator::version(FFmpegLocator::managedCopy()));
        ASSERT_TRUE(version.has_value());
        EXPECT_TRUE(version->startsWith(QStringLiteral("ffmpeg version "))) << version->toStdString();
        EXPECT_NE(*version, QStringLiteral("ffmpeg version earlier"));
    }
    // The fallback's requests went to that host by its own name.
    const QString host = server().requests().last().toObject().value("headers").toObject().value("Host").toString();
    EXPECT_TRUE(host.startsWith(QStringLiteral("localhost"))) << host.toStdString();
}

TEST_F(FFmpegInstallerTest, AFailedInstallSaysWhyAndKeepsTheEarlierProgram)
{
    const std::pair<QList<QJsonObject>, QString> cases[] = {
        {{fault(primaryZip, "status", 404), fault(fallbackSums(), "status", 200, wrongDigest)},
         "Could not install ffmpeg: Downloaded ffmpeg failed its SHA-256 check."},
        // A sums file without any digest verifies nothing: it is a failed check, not a pass.
        {{fault(primaryZip, "status", 404), fault(fallbackSums(), "status", 200, "<html>no digest here</html>")},
         "Could not install ffmpeg: Downloaded ffmpeg failed its SHA-256 check."},
        {{fault(primaryZip, "status", 404), fault(fallbackZip(), "status", 404)}, "Could not install ffmpeg: Download failed (ffmpeg.zip)."},
        {{fault(primaryZip, "status", 404), fault(fallbackSums(), "status", 404)},
         "Could not install ffmpeg: Download failed (ffmpeg.zip.sha256)."},
        // Nothing listens on port 1 of either host.
        {{}, "Could not install ffmpeg: Connection refused…"},
    };
    for (const auto &[faults, message] : cases) {
        SCOPED_TRACE(message.toStdString());
        startOver(faults);
        if (faults.isEmpty()) {
            vorlik::platform::Settings::standard().setValue(QStringLiteral("baseURL"), QStringLiteral("https://127.0.0.1:1"));
            ServiceConfig::setFFmpegFallbackOriginForTesting(QUrl(QStringLiteral("https://localhost:1")));
        }
        FFmpegInstaller installer;
        const Observed seen = install(installer);
        EXPECT_EQ(installer.phase().kind, InstallPhase::Kind::failed);
        if (message.endsWith(u'…'))
            EXPECT_TRUE(installer.phase().message.startsWith(message.chopped(1))) << installer.phase().message.toStdString();
        else
            EXPECT_EQ(installer.phase().message, message);
        EXPECT_EQ(installer.statusText(), installer.phase().message);
        EXPECT_TRUE(installer.installedProgram().isEmpty());
        EXPECT_TRUE(seen.installedSignals.isEmpty());
        EXPECT_EQ(seen.dismissals, 0);
        EXPECT_EQ(readFile(FFmpegLocator::managedCopy()), m_earlier);
        EXPECT_EQ(QDir(FFmpegLocator::toolsDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"ffmpeg"});
        EXPECT_EQ(leftoversInTemp(), QStringList());
    }
}

TEST_F(FFmpegInstallerTest, AShortBodyIsAFailedDownload)
{
    // Over plain HTTP Qt does not always call a body that stops early an error; the announced
    // length catches it then.
    QUrl url = DevServer::shared().baseUrl();
    url.setPath(primaryZip);
    url.setQuery(QStringLiteral("truncate=1000"));
    try {
        vorlik::test::run(FFmpegInstaller::download(url));
        ADD_FAILURE() << "a short body passed";
    } catch (const vorlik::Failure &error) {
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("The connection closed after 1000 of "))
                    || error.description() == QStringLiteral("Connection closed"))
            << error.description().toStdString();
    }
}

TEST_F(FFmpegInstallerTest, OnlyOneInstallRunsAtATime)
{
    server().addFault({{"path", primaryZip}, {"action", "delay"}, {"delay_ms", 300}});
    FFmpegInstaller installer;
    QCoro::Task<void> first = installer.installRecommended();
    EXPECT_TRUE(installer.isBusy());
    vorlik::test::run(installer.installRecommended()); // returns at once
    EXPECT_TRUE(installer.isBusy());
    vorlik::test::run(std::move(first));
    EXPECT_FALSE(installer.isBusy());
    EXPECT_EQ(requestedPaths().count(primaryZip), 1);
}

TEST_F(FFmpegInstallerTest, AnArchiveWithoutFFmpegAtTheTopOrThatReachesOutsideIsRefusedAndLeavesNothing)
{
    const QByteArray real = readFile(QStringLiteral("/usr/bin/ffmpeg"));
    const auto zip = [](const std::vector<ArchiveEntry> &entries) { return vorlik::test::archiveBytes(ArchiveFormat::zip, entries); };
    const auto tar = [](const std::vector<ArchiveEntry> &entries) { return vorlik::test::archiveBytes(ArchiveFormat::tarGzip, entries); };
    const std::pair<QByteArray, int> archives[] = {
        {zip({ArchiveEntry::folder("bin"), ArchiveEntry::file("bin/ffmpeg", real, 0755)}), 4},
        // Found by fuzzing: such a name has no QString, so QDir::removeRecursively left the file
        // and with it the whole working folder in the temporary folder.
        {tar({ArchiveEntry::file("\xff\xfe\xff-not-utf8", "x"), ArchiveEntry::folder("d\xe9j\xe0"), ArchiveEntry::file("d\xe9j\xe0/\xff", "y")}), 4},
        {zip({ArchiveEntry::file("ffmpeg", real, 0755), ArchiveEntry::file("../../evil", "x")}), 3},
        {zip({ArchiveEntry::file("../ffmpeg", real, 0755)}), 3},
        {zip({ArchiveEntry::symlink("ffmpeg", "/usr/bin/ffmpeg")}), 3},
        {zip({ArchiveEntry::symlink("ffmpeg", "../../../usr/bin/ffmpeg")}), 3},
        {zip({ArchiveEntry::file("/tmp/evil-from-ffmpeg-test", "x")}), 3},
        {tar({ArchiveEntry::file("x", "y"), ArchiveEntry::hardlink("ffmpeg", "/usr/bin/ffmpeg")}), 3},
        {"PK\x03\x04 this is no zip", 3},
    };
    for (const auto &[archive, code] : archives) {
        try {
            vorlik::test::run(FFmpegInstaller::extractAndAdopt(archive));
            ADD_FAILURE() << "adopted";
        } catch (const InstallError &error) {
            EXPECT_EQ(error.code(), code);
            EXPECT_EQ(error.description(), code == 4 ? QStringLiteral("The archive did not contain an ffmpeg binary.")
                                                     : QStringLiteral("Could not extract the ffmpeg archive."));
        }
        EXPECT_EQ(readFile(FFmpegLocator::managedCopy()), m_earlier);
        EXPECT_EQ(leftoversInTemp(), QStringList());
    }
    EXPECT_FALSE(QFileInfo::exists(QDir(m_temp.path()).filePath(QStringLiteral("../evil"))));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/evil-from-ffmpeg-test")));
}

// Picks `program` in the sheet's "Choose…" dialog, which then closes and goes.
void choose(FFmpegInstallSheet &sheet, const QString &program)
{
    QTest::mouseClick(sheet.chooseButton(), Qt::LeftButton);
    QPointer<QFileDialog> dialog = sheet.findChild<QFileDialog *>(QStringLiteral("chooseFFmpegDialog"));
    ASSERT_FALSE(dialog.isNull());
    EXPECT_EQ(dialog->windowTitle(), "Choose an ffmpeg binary to copy into " + FFmpegInstaller::toolsFolderDisplayName() + u'.');
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    dialog->selectFile(program);
    static_cast<QDialog *>(dialog.data())->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }));
}

using FFmpegInstallSheetTest = FFmpegInstallerTest;

TEST_F(FFmpegInstallSheetTest, CancelInstallsNothingAndAFailedInstallOrChoiceSaysWhy)
{
    QWidget window; // the sheet belongs to a window of its own
    window.resize(900, 600);
    window.show();
    FFmpegInstallSheet sheet(&window);
    QSignalSpy installed(&sheet, &FFmpegInstallSheet::installed);
    sheet.present();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    EXPECT_TRUE(sheet.phaseLabel()->isHidden()) << "nothing to say while idle";
    EXPECT_TRUE(sheet.busyIndicator()->isHidden());
    EXPECT_EQ(sheet.homebrewButton()->isVisible(), QFileInfo(QStringLiteral("/opt/homebrew/bin/ffmpeg")).isExecutable())
        << "offered only when that program exists";
    EXPECT_TRUE(saveScreenshot(&sheet, QStringLiteral("ffmpeg-install-sheet")));
    QTest::mouseClick(sheet.closeButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), QDialog::Rejected);
    vorlik::test::settle(100);
    EXPECT_TRUE(installed.isEmpty());
    EXPECT_TRUE(server().requests().isEmpty());

    const QString failed = QStringLiteral("Could not install ffmpeg: Download failed (ffmpeg.zip).");
    startOver({fault(primaryZip, "status", 404), fault(fallbackZip(), "status", 404)});
    sheet.present();
    QTest::mouseClick(sheet.installButton(), Qt::LeftButton);
    EXPECT_FALSE(sheet.installButton()->isEnabled()) << "one install at a time";
    EXPECT_FALSE(sheet.busyIndicator()->isHidden());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet.installer().isBusy(); }, 30000));
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.phaseLabel()->text(), failed);
    EXPECT_FALSE(sheet.phaseLabel()->isHidden());
    EXPECT_EQ(readFile(FFmpegLocator::managedCopy()), m_earlier);
    EXPECT_TRUE(saveScreenshot(&sheet, QStringLiteral("ffmpeg-install-sheet-failed")));
    // Shown again later, it is the same sheet, still saying what happened last.
    sheet.reject();
    sheet.present();
    EXPECT_EQ(sheet.phaseLabel()->text(), failed);

    // A chosen program that is not ffmpeg is refused with the reason (the Convert page's tests choose
    // a working one through this sheet).
    choose(sheet, QStringLiteral("/bin/true"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet.installer().isBusy() && sheet.phaseLabel()->text() != failed; }, 30000));
    EXPECT_EQ(sheet.phaseLabel()->text(), QStringLiteral("Could not install ffmpeg: The chosen binary is not a working ffmpeg."));
    EXPECT_TRUE(installed.isEmpty());
    EXPECT_TRUE(sheet.isVisible());
}

} // namespace
