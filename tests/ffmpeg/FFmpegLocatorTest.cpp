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
#include <QTemporaryDir>

#include <csignal>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>

using vorlik::ffmpeg::AdoptionError;
using vorlik::ffmpeg::ExportLocation;
using vorlik::ffmpeg::FFmpegLocator;
using vorlik::ffmpeg::FileError;
using vorlik::ffmpeg::Preferences;
using vorlik::test::readFile;
using vorlik::test::run;

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

bool chattr(const QString &flag, const QString &path) { return QProcess::execute(QStringLiteral("chattr"), {flag, path}) == 0; }

QStringList tools()
{
    return QDir(FFmpegLocator::toolsDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

template <typename Error>
std::optional<Error> adoptionFailure(const QString &source)
{
    try {
        run(FFmpegLocator::adoptBinary(source));
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
        const QString folder = FFmpegLocator::toolsDir();
        if (QFileInfo::exists(folder))
            chattr(QStringLiteral("-i"), folder);
        QDir(folder).removeRecursively();
        QFile::remove(folder);
    }
    static bool fixedPlacesHaveNoFFmpeg()
    {
        return !FFmpegLocator::isExecutableFile(QStringLiteral("/opt/homebrew/bin/ffmpeg"))
            && !FFmpegLocator::isExecutableFile(QStringLiteral("/usr/local/bin/ffmpeg"));
    }
    QString path(const char *name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir m_dir;
    QByteArray m_path;
};

} // namespace

TEST_F(FFmpegLocatorTest, FindInPathSkipsEmptyEntriesAndNonProgramsAndTheSearchIsAWorkingOverrideThenTheManagedCopyThenPath)
{
    vorlik::test::writeFile(path("first/tool"), "not executable");
    QDir().mkpath(path("second/tool")); // a folder is not a program
    const QString found = executable(path("third/tool"), "exit 0\n");
    const QString list = path("first") + QStringLiteral("::") + path("second") + u':' + path("third") + u':';
    EXPECT_EQ(FFmpegLocator::findInPATH(QStringLiteral("tool"), list), found);
    EXPECT_EQ(FFmpegLocator::findInPATH(QStringLiteral("other"), list), std::nullopt);
    if (!fixedPlacesHaveNoFFmpeg())
        GTEST_SKIP() << "an ffmpeg in /opt/homebrew/bin or /usr/local/bin would come before PATH";
    vorlik::platform::Settings settings(path("settings.conf"));
    qputenv("PATH", QFile::encodeName(path("empty")));
    EXPECT_EQ(FFmpegLocator::locatedFFmpeg(), std::nullopt);
    EXPECT_EQ(FFmpegLocator::findInPATH(QStringLiteral("ffmpeg")), std::nullopt);
    // An override that cannot run (not executable, a folder) is ignored.
    vorlik::test::writeFile(path("not-executable"), "#!/bin/sh\n");
    for (const QString &broken : {path("not-executable"), m_dir.path()}) {
        settings.setValue(QStringLiteral("ffmpegPathOverride"), broken);
        EXPECT_EQ(Preferences::effectiveFFmpeg(settings), std::nullopt);
    }
    settings.remove(QStringLiteral("ffmpegPathOverride"));
    const QString onPath = fakeFFmpeg(path("bin/ffmpeg"));
    qputenv("PATH", QFile::encodeName(path("bin")));
    EXPECT_EQ(FFmpegLocator::locatedFFmpeg(), onPath);
    EXPECT_EQ(Preferences::effectiveFFmpeg(settings), onPath);

    const QString managed = fakeFFmpeg(FFmpegLocator::managedCopy());
    EXPECT_EQ(FFmpegLocator::locatedFFmpeg(), managed);
    EXPECT_EQ(Preferences::effectiveFFmpeg(settings), managed);

    const QString chosen = fakeFFmpeg(path("my ffmpeg"));
    settings.setValue(QStringLiteral("ffmpegPathOverride"), QString(QStringLiteral(" \t") + chosen + QStringLiteral("\t ")));
    EXPECT_EQ(Preferences::effectiveFFmpeg(settings), chosen);
    EXPECT_EQ(FFmpegLocator::locatedFFmpeg(), managed); // the override is not the locator's business
}

TEST_F(FFmpegLocatorTest, VersionIsTheFirstNonEmptyLineOfAProgramThatEndsWell)
{
    const std::tuple<const char *, QByteArray, std::optional<QString>> cases[] = {
        {"blank lines first", "echo; echo; echo 'ffmpeg version x'; echo second\n", QStringLiteral("ffmpeg version x")},
        // Far more than a pipe holds on both streams before the program can end.
        {"talkative",
         "echo 'ffmpeg version big'\n"
         "i=0; while [ $i -lt 4000 ]; do echo 'configuration line configuration line configuration line'; "
         "echo 'noise noise noise noise noise noise noise noise noise noise' >&2; i=$((i+1)); done\n",
         QStringLiteral("ffmpeg version big")},
        {"fails", "echo 'ffmpeg version 1'; exit 1\n", std::nullopt},
        {"only on stderr", "echo 'only on stderr' >&2\n", std::nullopt},
        {"not UTF-8", "printf 'caf\\351\\n'\n", std::nullopt}, {"not executable", {}, std::nullopt},
    };
    for (const auto &[name, body, expected] : cases) {
        const QString program = path(name);
        if (body.isEmpty())
            vorlik::test::writeFile(program, "echo hi\n");
        else
            executable(program, body);
        EXPECT_EQ(run(FFmpegLocator::version(program)), expected) << name;
    }
    EXPECT_EQ(run(FFmpegLocator::version(path("missing"))), std::nullopt);
    const QString hangs = executable(path("hangs"), "echo 'ffmpeg version hang'; exec sleep 30\n");
    EXPECT_EQ(run(FFmpegLocator::version(hangs, std::chrono::milliseconds(300))), std::nullopt);
}

TEST_F(FFmpegLocatorTest, AdoptInstallsAWorkingCopyReplacesAnEarlierOneAndRefusesWhatIsNotFFmpeg)
{
    const QString source = fakeFFmpeg(path("download/ffmpeg"));
    ::chmod(QFile::encodeName(source).constData(), 0700);
    const QString managed = run(FFmpegLocator::adoptBinary(source));
    EXPECT_EQ(managed, FFmpegLocator::managedCopy());
    EXPECT_EQ(readFile(managed), readFile(source));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(managed).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    EXPECT_TRUE(QFile::exists(source)); // copied, not moved

    const QString second = fakeFFmpeg(path("two"), "ffmpeg version 2");
    run(FFmpegLocator::adoptBinary(second));
    EXPECT_EQ(readFile(managed), readFile(second));
    EXPECT_EQ(tools(), QStringList{QStringLiteral("ffmpeg")});

    for (const QByteArray body : {"echo 'ffmpeg version 1'; exit 1\n", "exit 0\n"}) {
        const auto error = adoptionFailure<AdoptionError>(executable(path("bad"), body));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), QStringLiteral("The chosen binary is not a working ffmpeg."));
        EXPECT_EQ(error->domain(), QStringLiteral("Vorlik"));
        EXPECT_EQ(error->code(), 12);
        EXPECT_EQ(readFile(managed), readFile(second));
        EXPECT_EQ(tools(), QStringList{QStringLiteral("ffmpeg")});
    }

    // Adopting the managed copy itself, by any name, changes nothing.
    struct stat before {};
    ::stat(QFile::encodeName(managed).constData(), &before);
    ASSERT_TRUE(QFile::link(managed, path("link-to-managed")));
    for (const QString &same : {managed, FFmpegLocator::toolsDir() + QStringLiteral("/./ffmpeg"), path("link-to-managed")}) {
        EXPECT_EQ(run(FFmpegLocator::adoptBinary(same)), managed);
        struct stat after {};
        ::stat(QFile::encodeName(managed).constData(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    }
}

TEST_F(FFmpegLocatorTest, AFailedAdoptionIsTheFileSystemsErrorAndKeepsTheEarlierCopy)
{
    auto error = adoptionFailure<FileError>(path("gone"));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description().contains(QStringLiteral("No such file or directory"))) << error->description().toStdString();
    EXPECT_TRUE(tools().isEmpty());

    // Something that is not a folder stands where the tools folder belongs.
    removeTools();
    QDir().mkpath(QFileInfo(FFmpegLocator::toolsDir()).path());
    vorlik::test::writeFile(FFmpegLocator::toolsDir(), "in the way");
    error = adoptionFailure<FileError>(fakeFFmpeg(path("x")));
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description().startsWith(QStringLiteral("Could not create the folder ")));
    EXPECT_EQ(readFile(FFmpegLocator::toolsDir()), QByteArray("in the way"));
    removeTools();

    const QString big = executable(path("big"), "echo 'ffmpeg version 2'\n#" + QByteArray(256 * 1024, 'x') + "\n");
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedHandler)(int) = SIG_DFL;
    struct Case {
        const char *says;
        std::function<bool()> obstruct; // false: cannot be done here
        std::function<void()> clear;
        QStringList left;
    };
    const Case cases[] = {
        // Permission bits do not stop root; an immutable folder stops everyone.
        {"Operation not permitted", [] { return chattr(QStringLiteral("+i"), FFmpegLocator::toolsDir()); },
         [] { chattr(QStringLiteral("-i"), FFmpegLocator::toolsDir()); }, {"ffmpeg"}},
        // The copy stops part-way, as on a full disk: a file size limit stands in for the disk.
        {"Could not copy ",
         [&] {
             savedHandler = std::signal(SIGXFSZ, SIG_IGN);
             rlimit small = saved;
             small.rlim_cur = 64 * 1024;
             return ::setrlimit(RLIMIT_FSIZE, &small) == 0;
         },
         [&] { ::setrlimit(RLIMIT_FSIZE, &saved), std::signal(SIGXFSZ, savedHandler); }, {"ffmpeg"}},
        // A folder with contents where the earlier copy would be moved aside: the move fails.
        {"Could not move aside ", [] { return vorlik::test::writeFile(FFmpegLocator::previousCopy() + "/keep", "not ours"), true; },
         [] {}, {"ffmpeg", "ffmpeg.previous"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.says);
        removeTools();
        run(FFmpegLocator::adoptBinary(fakeFFmpeg(path("one"), "ffmpeg version 1")));
        const QByteArray before = readFile(FFmpegLocator::managedCopy());
        const bool obstructed = c.obstruct();
        error = obstructed ? adoptionFailure<FileError>(big) : std::nullopt;
        c.clear();
        if (!obstructed)
            continue; // chattr is not available everywhere
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->description().contains(QString::fromUtf8(c.says))) << error->description().toStdString();
        EXPECT_EQ(readFile(FFmpegLocator::managedCopy()), before);
        EXPECT_EQ(tools(), c.left);
    }

    // The staged file vanished before the swap: the earlier copy, already moved aside, comes back.
    removeTools();
    run(FFmpegLocator::adoptBinary(fakeFFmpeg(path("one"), "ffmpeg version 1")));
    const QByteArray before = readFile(FFmpegLocator::managedCopy());
    vorlik::test::writeFile(FFmpegLocator::previousCopy(), "left over from a crash");
    try {
        FFmpegLocator::installStaged(FFmpegLocator::toolsDir() + QStringLiteral("/ffmpeg.staging-GONE"));
        ADD_FAILURE() << "the swap should have failed";
    } catch (const FileError &failure) {
        EXPECT_TRUE(failure.description().startsWith(QStringLiteral("Could not move the new ffmpeg to ")));
    }
    EXPECT_EQ(readFile(FFmpegLocator::managedCopy()), before);
    EXPECT_EQ(tools(), QStringList{QStringLiteral("ffmpeg")});
}

TEST_F(FFmpegLocatorTest, SameFileChecksumAndQuarantineHelpers)
{
    vorlik::test::writeFile(path("a"), "same");
    vorlik::test::writeFile(path("b"), "same");
    ASSERT_EQ(::link(QFile::encodeName(path("a")).constData(), QFile::encodeName(path("hard")).constData()), 0);
    ASSERT_TRUE(QFile::link(path("a"), path("soft")));
    for (const QString &same : {path("a"), m_dir.path() + QStringLiteral("/x/../a"), path("hard"), path("soft")})
        EXPECT_TRUE(FFmpegLocator::isSameFile(same, path("a"))) << same.toStdString();
    EXPECT_FALSE(FFmpegLocator::isSameFile(path("a"), path("b"))); // equal content is not the same file
    EXPECT_FALSE(FFmpegLocator::isSameFile(path("a"), path("missing")));
    EXPECT_TRUE(FFmpegLocator::isSameFile(path("missing"), path("missing")));

    const QString digest = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    const std::pair<QString, QString> sums[] = {
        {digest.toUpper() + QStringLiteral("  ffmpeg.zip\n"), digest},
        {QStringLiteral("ffmpeg.zip\t") + digest, digest},
        {QStringLiteral("SHA256 (x) = ") + digest + QStringLiteral("\n") + QString(64, u'a'), digest}, // the first of several
        {digest + QStringLiteral("ab"), digest + QStringLiteral("ab")}, // longer than 64 digits is whole
        {digest.left(63), QString()}, {digest.left(63) + u'g', QString()},
        {QStringLiteral("x\u00A0") + digest + QStringLiteral("\u2003y"), digest}, // Unicode white space separates
        {QStringLiteral("no digest here\n"), QString()},
    };
    for (const auto &[text, found] : sums)
        EXPECT_EQ(FFmpegLocator::parseChecksum(text), found) << text.toStdString();

    const QString record = path("arguments");
    const QString xattr = executable(path("xattr"), "for a in \"$@\"; do echo \"$a\"; done > '" + QFile::encodeName(record) + "'\n");
    FFmpegLocator::clearQuarantine(QStringLiteral("/some path/ffmpeg"), xattr);
    EXPECT_EQ(readFile(record), QByteArray("-dr\ncom.apple.quarantine\n/some path/ffmpeg\n"));
    // Where the tool does not exist (Linux), nothing happens and nothing fails.
    FFmpegLocator::clearQuarantine(QStringLiteral("/some path/ffmpeg"), path("no-xattr"));
    FFmpegLocator::clearQuarantine(QStringLiteral("/some path/ffmpeg"));
}

TEST_F(FFmpegLocatorTest, ExportsGoToTheSourcesFolderUnlessExactlyCustomFolderWithAnExistingDirectory)
{
    vorlik::platform::Settings settings(path("settings.conf"));
    const QString out = path("out put");
    QDir().mkpath(out);
    settings.setValue(QStringLiteral("exportFolderPath"), out);
    // The source's folder need not exist: the source may be on its way.
    const QString stored[] = {vorlik::ffmpeg::rawValue(ExportLocation::sameAsSource), "CustomFolder", " customFolder", "",
                              vorlik::ffmpeg::rawValue(ExportLocation::customFolder)};
    for (const QString &value : stored) {
        settings.setValue(QStringLiteral("exportLocation"), value);
        const bool custom = value == QStringLiteral("customFolder");
        EXPECT_EQ(Preferences::exportLocation(settings), custom ? ExportLocation::customFolder : ExportLocation::sameAsSource) << value.toStdString();
        EXPECT_EQ(Preferences::exportDirectory(QStringLiteral("/a/b/c.wav"), settings), custom ? out : QStringLiteral("/a/b"));
    }

    // A trailing separator names the same folder (the queue's tests check the invalid folders).
    settings.setValue(QStringLiteral("exportFolderPath"), out + u'/');
    EXPECT_EQ(Preferences::exportDirectory(QStringLiteral("/media/a.wav"), settings), out);
    settings.remove(QStringLiteral("exportLocation"));
    EXPECT_EQ(Preferences::exportLocation(settings), ExportLocation::sameAsSource);
}
