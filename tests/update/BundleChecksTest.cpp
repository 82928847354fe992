// The checks of a bundle's Info.plist (XML and binary), reading the image tool's attach
// report, and running a tool for its output.
#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/UpdateError.h"
#include "update/UpdateManager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <tuple>

using vorlik::update::Manifest;
using vorlik::update::UpdateError;
using vorlik::update::UpdateManager;
namespace test = vorlik::test;

namespace {

Manifest manifest(const QString &version = QStringLiteral("1.2.25"), qint64 build = 28)
{
    Manifest m;
    m.version = version;
    m.build = build;
    return m;
}

struct Identity {
    const char *name;
    test::BundleInfo info;
    Manifest manifest;
    int code; // 0: accepted
    QString text;
};

class BundleIdentity : public ::testing::TestWithParam<Identity> {};

TEST_P(BundleIdentity, IsCheckedAgainstTheManifest)
{
    const Identity &item = GetParam();
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary plist" : "XML plist");
        QTemporaryDir folder;
        test::BundleInfo info = item.info;
        info.binary = binary;
        const QString bundle = test::makeBundle(folder.path(), info);
        if (item.code == 0) {
            EXPECT_NO_THROW(UpdateManager::validateBundleIdentity(bundle, item.manifest));
            continue;
        }
        try {
            UpdateManager::validateBundleIdentity(bundle, item.manifest);
            ADD_FAILURE() << "accepted " << item.name;
        } catch (const UpdateError &error) {
            EXPECT_EQ(error.code(), item.code);
            EXPECT_EQ(error.domain(), QStringLiteral("Vorlik"));
            EXPECT_EQ(error.description(), item.text);
        }
    }
}

test::BundleInfo withIdentifier(std::optional<QString> identifier)
{
    test::BundleInfo info;
    info.identifier = std::move(identifier);
    return info;
}
test::BundleInfo withVersion(std::optional<QString> version)
{
    test::BundleInfo info;
    info.shortVersion = std::move(version);
    return info;
}
test::BundleInfo withBuild(std::optional<QString> build)
{
    test::BundleInfo info;
    info.build = std::move(build);
    return info;
}
Manifest requiringMacos(const QString &minimum)
{
    Manifest m = manifest();
    m.minMacos = minimum;
    return m;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BundleIdentity,
    ::testing::Values(
        Identity{"matching", {}, manifest(), 0, {}},
        Identity{"wrong identifier", withIdentifier(QStringLiteral("com.example.other")), manifest(), 8,
                 QStringLiteral("The update bundle is not Vorlik Desktop.")},
        Identity{"no identifier", withIdentifier(std::nullopt), manifest(), 8,
                 QStringLiteral("The update bundle is not Vorlik Desktop.")},
        Identity{"1.2 against 1.2.0", withVersion(QStringLiteral("1.2")), manifest(QStringLiteral("1.2.0")), 9,
                 QStringLiteral("The update bundle version (1.2) does not match the manifest (1.2.0).")},
        Identity{"older version", withVersion(QStringLiteral("1.2.24")), manifest(), 9,
                 QStringLiteral("The update bundle version (1.2.24) does not match the manifest (1.2.25).")},
        Identity{"no version", withVersion(std::nullopt), manifest(), 9,
                 QStringLiteral("The update bundle version () does not match the manifest (1.2.25).")},
        Identity{"no build", withBuild(std::nullopt), manifest(), 10,
                 QStringLiteral("The update bundle build () does not match the manifest (28).")},
        Identity{"other build", withBuild(QStringLiteral("027")), manifest(QStringLiteral("1.2.25"), 27), 10,
                 QStringLiteral("The update bundle build (027) does not match the manifest (27).")},
        // A macOS requirement names no Linux version: it does not apply here.
        Identity{"macOS requirement", {}, requiringMacos(QStringLiteral("99.0")), 0, {}},
        Identity{"unparsable requirement", {}, requiringMacos(QStringLiteral("sonoma")), 0, {}}),
    [](const ::testing::TestParamInfo<Identity> &info) {
        std::string name = info.param.name;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(BundleIdentityFile, AMissingOrUnreadableInfoPlistIsCode7)
{
    QTemporaryDir folder;
    const QString bundle = test::makeBundle(folder.path(), {});
    const QString plist = bundle + QStringLiteral("/Contents/Info.plist");
    const QList<QByteArray> contents{"not a property list", "", "<?xml version=\"1.0\"?><plist><array/></plist>",
                                     "bplist00garbage"};
    for (const QByteArray &content : contents) {
        test::writeFile(plist, content);
        try {
            UpdateManager::validateBundleIdentity(bundle, manifest());
            ADD_FAILURE() << "accepted " << content.constData();
        } catch (const UpdateError &error) {
            EXPECT_EQ(error.code(), 7);
            EXPECT_EQ(error.description(), QStringLiteral("The update bundle has no readable Info.plist."));
        }
    }
    QFile::remove(plist);
    EXPECT_THROW(UpdateManager::validateBundleIdentity(bundle, manifest()), UpdateError);
}

TEST(BundleIdentityFile, StringsWithZeroBytesOrACutCharacterAreRefusedWithoutEndingTheProgram)
{
    const QByteArray zero(1, '\0');
    const std::tuple<QByteArray, QByteArray, int> cases[] = {
        // Found by fuzzing: libplist's plain string reader asserts on a zero byte and aborts.
        {"com.vorlik.desktop", "com.v" + QByteArray(8, '\0') + "sktop", 8},
        {"com.vorlik.desktop", "com.vorlik.desktop" + zero, 8},
        {"com.vorlik.desktop", zero, 8},
        // The bytes of "1.2.25" and the first byte of a two-byte character: not UTF-8, so not the
        // manifest's version, though a decoder that waits for more input would read "1.2.25".
        {"1.2.25", "1.2.25\xc7", 9},
    };
    QTemporaryDir folder;
    const QString bundle = test::makeBundle(folder.path(), {});
    const QByteArray plist = test::readFile(bundle + QStringLiteral("/Contents/Info.plist"));
    for (const auto &[original, replacement, code] : cases) {
        QByteArray changed = plist;
        ASSERT_TRUE(changed.contains("<string>" + original + "</string>"));
        changed.replace("<string>" + original + "</string>", "<string>" + replacement + "</string>");
        test::writeFile(bundle + QStringLiteral("/Contents/Info.plist"), changed);
        try {
            UpdateManager::validateBundleIdentity(bundle, manifest());
            ADD_FAILURE() << "accepted " << replacement.toHex().toStdString();
        } catch (const UpdateError &error) {
            EXPECT_EQ(error.code(), code);
        }
    }
}

// --- The image tool's report ---

QByteArray attachReport(const QByteArray &entities)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>system-entities</key><array>)"
        + entities + "</array></dict></plist>";
}

TEST(AttachReport, TheFirstNonEmptyMountPointWins)
{
    const QByteArray partitionScheme = "<dict><key>content-hint</key><string>GUID_partition_scheme</string>"
                                       "<key>dev-entry</key><string>/dev/disk4</string></dict>";
    const QByteArray emptyPoint = "<dict><key>mount-point</key><string></string></dict>";
    const QByteArray volume = "<dict><key>dev-entry</key><string>/dev/disk4s1</string>"
                              "<key>mount-point</key><string>/Volumes/Vorlik Desktop</string></dict>";
    const QByteArray second = "<dict><key>mount-point</key><string>/Volumes/Other</string></dict>";
    EXPECT_EQ(UpdateManager::mountPoint(attachReport(partitionScheme + emptyPoint + volume + second)),
              QStringLiteral("/Volumes/Vorlik Desktop"));
    EXPECT_EQ(UpdateManager::mountPoint(attachReport(partitionScheme)), std::nullopt);
    EXPECT_EQ(UpdateManager::mountPoint(attachReport("<string>/Volumes/X</string>")), std::nullopt);
    EXPECT_EQ(UpdateManager::mountPoint(attachReport("<dict><key>mount-point</key><integer>3</integer></dict>")),
              std::nullopt);
    EXPECT_EQ(UpdateManager::mountPoint("hdiutil: attach failed - no mountable file systems"), std::nullopt);
    EXPECT_EQ(UpdateManager::mountPoint(""), std::nullopt);
    EXPECT_EQ(UpdateManager::mountPoint(R"(<?xml version="1.0"?><plist><array/></plist>)"), std::nullopt);
    const QByteArray zeroByte = "<dict><key>mount-point</key><string>/dev/di" + QByteArray(2, '\0') + "4s1</string></dict>";
    EXPECT_EQ(UpdateManager::mountPoint(attachReport(zeroByte)), std::nullopt);
    EXPECT_EQ(UpdateManager::mountPoint(attachReport(zeroByte + volume)), QStringLiteral("/Volumes/Vorlik Desktop"));
}

TEST(AttachReport, AMountPointThatIsNotUTF8IsNoText)
{
    // Found by fuzzing: a binary report's string may hold any bytes; read with replacement
    // characters it named a folder that does not exist.
    const QByteArray broken = "<dict><key>mount-point</key><string>/Vo\x97\x8ames/V</string></dict>";
    const QByteArray volume = "<dict><key>mount-point</key><string>/Volumes/V</string></dict>";
    EXPECT_EQ(UpdateManager::mountPoint(attachReport(broken + volume)), QStringLiteral("/Volumes/V"));
    QByteArray binary = test::toBinaryPlist(attachReport(volume));
    EXPECT_EQ(UpdateManager::mountPoint(binary), QStringLiteral("/Volumes/V")); // a binary report reads the same
    ASSERT_TRUE(binary.contains("/Volumes/V"));
    binary.replace("/Volumes/V", "/Vo\x97\x8ames/V"); // the same length: offsets stay right
    EXPECT_EQ(UpdateManager::mountPoint(binary), std::nullopt);
}

// --- Running a tool ---

TEST(RunProcess, GivesTheMergedOutputOrNone)
{
    EXPECT_EQ(UpdateManager::runProcess(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo out; echo err >&2")}),
              QStringLiteral("out\nerr\n"));
    // The exit status is not judged.
    EXPECT_EQ(UpdateManager::runProcess(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("echo x; exit 3")}),
              QStringLiteral("x\n"));
    EXPECT_EQ(UpdateManager::runProcess(QStringLiteral("/bin/true"), {}), QString());
    EXPECT_EQ(UpdateManager::runProcess(QStringLiteral("/no/such/tool"), {}), std::nullopt);
    EXPECT_EQ(UpdateManager::runProcess(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("printf '\\377\\376'")}),
              std::nullopt);
    // More than a pipe holds does not stall it.
    const auto big = UpdateManager::runProcess(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("head -c 300000 /dev/zero | tr '\\0' a")});
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(big->size(), 300000);
}

} // namespace
