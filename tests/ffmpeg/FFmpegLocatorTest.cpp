// Finding ffmpeg, checking that a program is one, and adopting it into the tools folder, on real
// files and programs (fake "ffmpeg" scripts where a real one is not needed).
#include "ffmpeg/AdoptionError.h"
#include "ffmpeg/FFmpegLocator.h"
#include "ffmpeg/FileError.h"
#include "ffmpeg/Preferences.h"
#include "platform/Settings.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

using vorlik::ffmpeg::AdoptionError;
using vorlik::ffmpeg::FFmpegLocator;
using vorlik::ffmpeg::FileError;
using vorlik::ffmpeg::Preferences;
using vorlik::platform::Settings;

namespace {

QString executable(const QString &path, const QByteArray &body)
{
    QDir().mkpath(QFileInfo(path).path());
    vorlik::test::writeFile(path, "#!/bin/sh\n" + body);
    ::chmod(QFile::encodeName(path).constData(), 0755);
    return path;
}

QString fakeFFmpeg(const QString &path, const QByteArray &versionText = "ffmpeg version 9.9-fake")
{
    return executable(path, "if [ \"$1\" = -version ]; then echo '" + versionText + "'; echo 'built with sh'; fi\n");
}

bool chattr(const QString &flag, const QString &path)
{
    return QProcess::execute(QStringLiteral("chattr"), {flag, path}) == 0;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

template <typename Error>
std::optional<Error> adoptionFailure(const QString &source)
{
    try {
        vorlik::test::run(FFmpegLocator::adoptBinary(source));
    } catch (const Error &error) {
        return error;
    }
    return std::nullopt;
}

class FFmpegLocatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = qgetenv("PATH");
        removeTools();
    }
    void TearDown() override
    {
        qputenv("PATH", m_path);
        removeTools();
    }
    static void removeTools()
    {
        const QString tools = FFmpegLocator::toolsDir();
        if (QFileInfo::exists(tools))
            chattr(QStringLiteral("-i"), tools);
        QDir(tools).removeRecursively();
        QFile::remove(tools);
    }
    static bool fixedPlacesHaveNoFFmpeg()
    {
        return !FFmpegLocator::isExecutableFile(QStringLiteral("/opt/homebrew/bin/ffmpeg"))
            && !FFmpegLocator::isExecutableFile(QStringLiteral("/usr/local/bin/ffmpeg"));
    }

    QTemporaryDir m_dir;
    QByteArray m_path;
};

} // namespace

TEST_F(FFmpegLocatorTest, SearchOrderIsOverrideManagedThenPath)
{
    if (!fixedPlacesHaveNoFFmpeg())
        GTEST_SKIP() << "an ffmpeg in /opt/homebrew/bin or /usr/local/bin would come before PATH";
    Settings settings(m_dir.filePath(QStringLiteral("settings.conf")));
    const QString onPath = fakeFFmpeg(m_dir.filePath(QStringLiteral("bin/ffmpeg")));
    qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("bin"))));

    EXPECT_EQ(FFmpegLocator::locatedFFmpeg(), onPath);
    EXPECT_EQ(Preferences::effectiveFFmpeg(settings), onPath);

    const QString managed = fakeFFmpeg(FFmpegLocator::managedCopy());
    EXPECT_EQ(FFmpegLocator::locatedFFmpeg(), managed);
    EXPECT_EQ(Preferences::effectiveFFmpeg(settings), managed);

    const QString chosen = fakeFFmpeg(m_dir.filePath(QStringLiteral("my ffmpeg")));
    settings.setValue(QStringLiteral("ffmpegPathOverride"), QString(QStringLiteral(" \t") + chosen + QStringLiteral("\t ")));
    EXPECT_EQ(Preferences::effectiveFFmpeg(settings), chosen);
    EXPECT_EQ(FFmpegLocator::locatedFFmpeg(), managed); // the override is not the locator's business
}

TEST_F(FFmpegLocatorTest, OverrideThatCannotRunIsIgnored)
{
    if (!fixedPlacesHaveNoFFmpeg())
        GTEST_SKIP() << "an ffmpeg in /opt/homebrew/bin or /usr/local/bin would be found";
    Settings settings(m_dir.filePath(QStringLiteral("settings.conf")));
    const QString plain = m_dir.filePath(QStringLiteral("not-executable"));
    vorlik::test::writeFile(plain, "#!/bin/sh\n");
    settings.setValue(QStringLiteral("ffmpegPathOverride"), plain);
    qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("empty"))));
    EXPECT_EQ(Preferences::effectiveFFmpeg(settings), std::nullopt);

    settings.setValue(QStringLiteral("ffmpegPathOverride"), m_dir.path()); // a folder
    EXPECT_EQ(Preferences::effectiveFFmpeg(settings), std::nullopt);

    const QString onPath = fakeFFmpeg(m_dir.filePath(QStringLiteral("bin/ffmpeg")));
    qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("bin"))));
    EXPECT_EQ(Preferences::effectiveFFmpeg(settings), onPath);
}

TEST_F(FFmpegLocatorTest, FindInPathSkipsEmptyEntriesAndNonPrograms)
{
    const QString first = m_dir.filePath(QStringLiteral("first"));
    const QString second = m_dir.filePath(QStringLiteral("second"));
    const QString third = m_dir.filePath(QStringLiteral("third"));
    vorlik::test::writeFile(first + QStringLiteral("/tool"), "not executable");
    QDir().mkpath(second + QStringLiteral("/tool")); // a folder is not a program
    const QString found = executable(third + QStringLiteral("/tool"), "exit 0\n");
    const QString path = first + QStringLiteral("::") + second + QStringLiteral(":") + third + QStringLiteral(":");
    EXPECT_EQ(FFmpegLocator::findInPATH(QStringLiteral("tool"), path), found);
    EXPECT_EQ(FFmpegLocator::findInPATH(QStringLiteral("other"), path), std::nullopt);
    // The system's own lookup, with an empty entry in the middle.
    const QString real = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (!real.isEmpty()) {
        EXPECT_EQ(FFmpegLocator::findInPATH(QStringLiteral("ffmpeg"), QFileInfo(real).path() + QStringLiteral("::/bin")), real);
    }
    if (!fixedPlacesHaveNoFFmpeg())
        return;
    qunsetenv("PATH");
    EXPECT_EQ(FFmpegLocator::findInPATH(QStringLiteral("ffmpeg")), std::nullopt);
    EXPECT_EQ(FFmpegLocator::locatedFFmpeg(), std::nullopt);
}

TEST_F(FFmpegLocatorTest, VersionIsTheFirstNonEmptyLineOfAProgramThatEndsWell)
{
    const QString real = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    ASSERT_FALSE(real.isEmpty());
    const auto version = vorlik::test::run(FFmpegLocator::version(real));
    ASSERT_TRUE(version);
    EXPECT_TRUE(version->startsWith(QStringLiteral("ffmpeg version "))) << version->toStdString();

    struct Case {
        const char *name;
        QByteArray body; // empty: a file that is not executable
        std::optional<QString> version;
    };
    const Case cases[] = {
        {"blank lines first", "echo; echo; echo 'ffmpeg version x'; echo second\n", QStringLiteral("ffmpeg version x")},
        // Far more than a pipe holds on both streams before the program can end.
        {"talkative",
         "echo 'ffmpeg version big'\n"
         "i=0; while [ $i -lt 4000 ]; do echo 'configuration line configuration line configuration line'; "
         "echo 'noise noise noise noise noise noise noise noise noise noise' >&2; i=$((i+1)); done\n",
         QStringLiteral("ffmpeg version big")},
        {"fails", "echo 'ffmpeg version 1'; exit 1\n", std::nullopt},
        {"only on stderr", "echo 'only on stderr' >&2\n", std::nullopt},
        {"not UTF-8", "printf 'caf\\351\\n'\n", std::nullopt},
        {"not executable", {}, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString program = m_dir.filePath(QString::fromUtf8(c.name));
        if (c.body.isEmpty())
            vorlik::test::writeFile(program, "echo hi\n");
        else
            executable(program, c.body);
        EXPECT_EQ(vorlik::test::run(FFmpegLocator::version(program)), c.version);
    }
    EXPECT_EQ(vorlik::test::run(FFmpegLocator::version(m_dir.filePath(QStringLiteral("missing")))), std::nullopt);
    const QString hangs = executable(m_dir.filePath(QStringLiteral("hangs")), "echo 'ffmpeg version hang'; exec sleep 30\n");
    EXPECT_EQ(vorlik::test::run(FFmpegLocator::version(hangs, std::chrono::milliseconds(300))), std::nullopt);
}

TEST_F(FFmpegLocatorTest, AdoptInstallsAWorkingCopyAndReplacesAnEarlierOne)
{
    const QString source = fakeFFmpeg(m_dir.filePath(QStringLiteral("download/ffmpeg")));
    ::chmod(QFile::encodeName(source).constData(), 0700);
    const QString managed = vorlik::test::run(FFmpegLocator::adoptBinary(source));
    EXPECT_EQ(managed, FFmpegLocator::managedCopy());
    EXPECT_EQ(vorlik::test::readFile(managed), vorlik::test::readFile(source));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(managed).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    EXPECT_EQ(entries(FFmpegLocator::toolsDir()), QStringList{QStringLiteral("ffmpeg")});
    EXPECT_TRUE(QFile::exists(source)); // copied, not moved
    EXPECT_EQ(FFmpegLocator::locatedFFmpeg(), managed);

    // A second adoption replaces the first and leaves nothing behind.
    const QString second = fakeFFmpeg(m_dir.filePath(QStringLiteral("two")), "ffmpeg version 2");
    vorlik::test::run(FFmpegLocator::adoptBinary(second));
    EXPECT_EQ(vorlik::test::readFile(FFmpegLocator::managedCopy()), vorlik::test::readFile(second));
    EXPECT_EQ(entries(FFmpegLocator::toolsDir()), QStringList{QStringLiteral("ffmpeg")});
}

TEST_F(FFmpegLocatorTest, AdoptRefusesAProgramThatIsNotFFmpeg)
{
    const QString good = fakeFFmpeg(m_dir.filePath(QStringLiteral("good")));
    vorlik::test::run(FFmpegLocator::adoptBinary(good));
    const QByteArray before = vorlik::test::readFile(FFmpegLocator::managedCopy());

    const QString failing = executable(m_dir.filePath(QStringLiteral("failing")), "echo 'ffmpeg version 1'; exit 1\n");
    const QString silent = executable(m_dir.filePath(QStringLiteral("silent")), "exit 0\n");
    for (const QString &bad : {failing, silent}) {
        const auto error = adoptionFailure<AdoptionError>(bad);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), QStringLiteral("The chosen binary is not a working ffmpeg."));
        EXPECT_EQ(error->domain(), QStringLiteral("Vorlik"));
        EXPECT_EQ(error->code(), 12);
        EXPECT_EQ(vorlik::test::readFile(FFmpegLocator::managedCopy()), before);
        EXPECT_EQ(entries(FFmpegLocator::toolsDir()), QStringList{QStringLiteral("ffmpeg")});
    }
}

TEST_F(FFmpegLocatorTest, AdoptingTheManagedCopyItselfChangesNothing)
{
    vorlik::test::run(FFmpegLocator::adoptBinary(fakeFFmpeg(m_dir.filePath(QStringLiteral("one")))));
    const QString managed = FFmpegLocator::managedCopy();
    struct stat before {};
    ::stat(QFile::encodeName(managed).constData(), &before);
    const QString link = m_dir.filePath(QStringLiteral("link-to-managed"));
    ASSERT_TRUE(QFile::link(managed, link));
    for (const QString &same : {managed, FFmpegLocator::toolsDir() + QStringLiteral("/./ffmpeg"), link}) {
        EXPECT_EQ(vorlik::test::run(FFmpegLocator::adoptBinary(same)), managed);
        struct stat after {};
        ::stat(QFile::encodeName(managed).constData(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
}

TEST_F(FFmpegLocatorTest, AdoptFromAMissingSourceIsTheFileSystemsError)
{
    const auto error = adoptionFailure<FileError>(m_dir.filePath(QStringLiteral("gone")));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description().contains(QStringLiteral("No such file or directory"))) << error->description().toStdString();
    EXPECT_TRUE(entries(FFmpegLocator::toolsDir()).isEmpty());
}

TEST_F(FFmpegLocatorTest, AdoptIntoAToolsFolderThatCannotBeCreated)
{
    // Something that is not a folder stands where the tools folder belongs.
    QDir().mkpath(QFileInfo(FFmpegLocator::toolsDir()).path());
    vorlik::test::writeFile(FFmpegLocator::toolsDir(), "in the way");
    const auto error = adoptionFailure<FileError>(fakeFFmpeg(m_dir.filePath(QStringLiteral("x"))));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description().startsWith(QStringLiteral("Could not create the folder ")));
    EXPECT_EQ(vorlik::test::readFile(FFmpegLocator::toolsDir()), QByteArray("in the way"));
}

TEST_F(FFmpegLocatorTest, AdoptIntoAnUnwritableToolsFolderKeepsTheEarlierCopy)
{
    vorlik::test::run(FFmpegLocator::adoptBinary(fakeFFmpeg(m_dir.filePath(QStringLiteral("one")), "ffmpeg version 1")));
    const QByteArray before = vorlik::test::readFile(FFmpegLocator::managedCopy());
    // Permission bits do not stop root; an immutable folder stops everyone.
    if (!chattr(QStringLiteral("+i"), FFmpegLocator::toolsDir()))
        GTEST_SKIP() << "chattr +i is not available here";
    const auto error = adoptionFailure<FileError>(fakeFFmpeg(m_dir.filePath(QStringLiteral("two")), "ffmpeg version 2"));
    chattr(QStringLiteral("-i"), FFmpegLocator::toolsDir());
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description().contains(QStringLiteral("Operation not permitted"))) << error->description().toStdString();
    EXPECT_EQ(vorlik::test::readFile(FFmpegLocator::managedCopy()), before);
    EXPECT_EQ(entries(FFmpegLocator::toolsDir()), QStringList{QStringLiteral("ffmpeg")});
}

TEST_F(FFmpegLocatorTest, AdoptWithNoRoomLeftKeepsTheEarlierCopy)
{
    vorlik::test::run(FFmpegLocator::adoptBinary(fakeFFmpeg(m_dir.filePath(QStringLiteral("one")), "ffmpeg version 1")));
    const QByteArray before = vorlik::test::readFile(FFmpegLocator::managedCopy());
    // A program larger than the room left: the copy stops part-way, as on a full disk (a file
    // size limit stands in for the disk, since filling a real one is no test's business).
    const QString big = executable(m_dir.filePath(QStringLiteral("big")),
                                   "echo 'ffmpeg version 2'\n#" + QByteArray(256 * 1024, 'x') + "\n");
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto error = adoptionFailure<FileError>(big);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description().startsWith(QStringLiteral("Could not copy "))) << error->description().toStdString();
    EXPECT_EQ(vorlik::test::readFile(FFmpegLocator::managedCopy()), before);
    EXPECT_EQ(entries(FFmpegLocator::toolsDir()), QStringList{QStringLiteral("ffmpeg")});
}

TEST_F(FFmpegLocatorTest, FailingMoveAsideKeepsTheEarlierCopy)
{
    vorlik::test::run(FFmpegLocator::adoptBinary(fakeFFmpeg(m_dir.filePath(QStringLiteral("one")), "ffmpeg version 1")));
    const QByteArray before = vorlik::test::readFile(FFmpegLocator::managedCopy());
    // A folder with contents where the earlier copy would be moved aside: the move fails.
    vorlik::test::writeFile(FFmpegLocator::previousCopy() + QStringLiteral("/keep"), "not ours to delete");
    const auto error = adoptionFailure<FileError>(fakeFFmpeg(m_dir.filePath(QStringLiteral("two")), "ffmpeg version 2"));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description().startsWith(QStringLiteral("Could not move aside "))) << error->description().toStdString();
    EXPECT_EQ(vorlik::test::readFile(FFmpegLocator::managedCopy()), before);
    EXPECT_EQ(entries(FFmpegLocator::toolsDir()), (QStringList{QStringLiteral("ffmpeg"), QStringLiteral("ffmpeg.previous")}));
    EXPECT_TRUE(QFile::exists(FFmpegLocator::previousCopy() + QStringLiteral("/keep")));
}

TEST_F(FFmpegLocatorTest, FailingSwapPutsTheEarlierCopyBack)
{
    vorlik::test::run(FFmpegLocator::adoptBinary(fakeFFmpeg(m_dir.filePath(QStringLiteral("one")), "ffmpeg version 1")));
    const QByteArray before = vorlik::test::readFile(FFmpegLocator::managedCopy());
    vorlik::test::writeFile(FFmpegLocator::previousCopy(), "left over from a crash");
    // The staged file vanished before the swap: the earlier copy was already moved aside and
    // must come back.
    const QString staging = FFmpegLocator::toolsDir() + QStringLiteral("/ffmpeg.staging-GONE");
    try {
        FFmpegLocator::installStaged(staging);
        FAIL() << "the swap should have failed";
    } catch (const FileError &error) {
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("Could not move the new ffmpeg to ")));
    }
    EXPECT_EQ(vorlik::test::readFile(FFmpegLocator::managedCopy()), before);
    EXPECT_EQ(entries(FFmpegLocator::toolsDir()), QStringList{QStringLiteral("ffmpeg")});
}

TEST_F(FFmpegLocatorTest, IsSameFileByPathOrIdentity)
{
    const QString a = m_dir.filePath(QStringLiteral("a"));
    const QString b = m_dir.filePath(QStringLiteral("b"));
    vorlik::test::writeFile(a, "same");
    vorlik::test::writeFile(b, "same");
    const QString hard = m_dir.filePath(QStringLiteral("hard"));
    const QString soft = m_dir.filePath(QStringLiteral("soft"));
    ASSERT_EQ(::link(QFile::encodeName(a).constData(), QFile::encodeName(hard).constData()), 0);
    ASSERT_TRUE(QFile::link(a, soft));
    EXPECT_TRUE(FFmpegLocator::isSameFile(a, a));
    EXPECT_TRUE(FFmpegLocator::isSameFile(a, m_dir.path() + QStringLiteral("/x/../a")));
    EXPECT_TRUE(FFmpegLocator::isSameFile(a, hard));
    EXPECT_TRUE(FFmpegLocator::isSameFile(soft, a));
    EXPECT_FALSE(FFmpegLocator::isSameFile(a, b)); // equal content is not the same file
    EXPECT_FALSE(FFmpegLocator::isSameFile(a, m_dir.filePath(QStringLiteral("missing"))));
    EXPECT_TRUE(FFmpegLocator::isSameFile(m_dir.filePath(QStringLiteral("missing")), m_dir.filePath(QStringLiteral("missing"))));
}

TEST_F(FFmpegLocatorTest, ClearQuarantineRunsTheToolWhereItExists)
{
    const QString record = m_dir.filePath(QStringLiteral("arguments"));
    const QString xattr = executable(m_dir.filePath(QStringLiteral("xattr")),
                                     "for a in \"$@\"; do echo \"$a\"; done > '" + QFile::encodeName(record) + "'\n");
    FFmpegLocator::clearQuarantine(QStringLiteral("/some path/ffmpeg"), xattr);
    EXPECT_EQ(vorlik::test::readFile(record), QByteArray("-dr\ncom.apple.quarantine\n/some path/ffmpeg\n"));

    // Where the tool does not exist (Linux), nothing happens and nothing fails.
    FFmpegLocator::clearQuarantine(QStringLiteral("/some path/ffmpeg"), m_dir.filePath(QStringLiteral("no-xattr")));
    FFmpegLocator::clearQuarantine(QStringLiteral("/some path/ffmpeg"));
}

struct ChecksumCase {
    const char *name;
    QString text;
    QString digest;
};

class ParseChecksum : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(ParseChecksum, FindsTheFirstDigest)
{
    EXPECT_EQ(FFmpegLocator::parseChecksum(GetParam().text), GetParam().digest) << GetParam().name;
}

const QString digest = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");

INSTANTIATE_TEST_SUITE_P(
    Table, ParseChecksum,
    ::testing::Values(
        ChecksumCase{"digest, two spaces, name", digest.toUpper() + QStringLiteral("  ffmpeg.zip\n"), digest},
        ChecksumCase{"name first, then digest", QStringLiteral("ffmpeg.zip\t") + digest, digest},
        ChecksumCase{"first of several", QStringLiteral("SHA256 (x) = ") + digest + QStringLiteral("\n") + QString(64, u'a'), digest},
        ChecksumCase{"longer than 64 digits is whole", digest + QStringLiteral("ab"), digest + QStringLiteral("ab")},
        ChecksumCase{"63 digits is not one", digest.left(63), QString()},
        ChecksumCase{"non-hex letter", digest.left(63) + u'g', QString()},
        ChecksumCase{"unicode white space separates", QStringLiteral("x\u00A0") + digest + QStringLiteral("\u2003y"), digest},
        ChecksumCase{"nothing", QString(), QString()},
        ChecksumCase{"no digest", QStringLiteral("no digest here\n"), QString()}),
    [](const auto &info) { return std::to_string(info.index); });
