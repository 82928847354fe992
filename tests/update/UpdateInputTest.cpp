#include "tests/support/TestFiles.h"
#include "tests/update/UpdateFixture.h"
#include "update/UnreadableDataError.h"
#include "update/Version.h"

using namespace vorlik::update;
namespace test = vorlik::test;

namespace {

QString failureOf(const QByteArray &json)
{
    try {
        Manifest::fromJSON(json);
    } catch (const UnreadableDataError &error) {
        return error.description();
    }
    return QStringLiteral("(decoded)");
}

TEST(ManifestDecoding, ReadsEveryMemberWhateverItsKeysCase)
{
    const Manifest manifest = Manifest::fromJSON(R"({"version":"1.2.25","build":28,"dmg":"https://vorlik.app/v.tar.gz",
        "sha256":"ABCdef","notes":"Faster.","MIN_MACOS":"13.0","channel":"stable"})");
    EXPECT_EQ(manifest, (Manifest{"1.2.25", 28, "https://vorlik.app/v.tar.gz", "ABCdef", "Faster.", "13.0"}));
    EXPECT_EQ(Manifest::fromJSON(manifest.toJSON()), manifest);
    const Manifest nulls = Manifest::fromJSON(R"({"version":"1","build":1,"dmg":"d","sha256":"s","notes":null})");
    EXPECT_EQ(nulls.notes, std::nullopt);
    EXPECT_EQ(nulls.minMacos, std::nullopt);

    const std::pair<QString, QString> keys[]{{"min_macos", "minMacos"}, {"minMacos", "minMacos"}, {"version", "version"},
                                             {"_min_macos_", "_minMacos_"}, {"a__b", "aB"}, {"___", "___"}, {"", ""}};
    for (const auto &[key, converted] : keys)
        EXPECT_EQ(Manifest::convertFromSnakeCase(key), converted) << key.toStdString();
}

TEST(ManifestDecoding, BadDocumentsFailWithThePlatformsText)
{
    const QString missing = QStringLiteral("The data couldn’t be read because it is missing.");
    const QString format = QStringLiteral("The data couldn’t be read because it isn’t in the correct format.");
    const QString decoded = QStringLiteral("(decoded)");
    const std::pair<QByteArray, QString> cases[]{
        {R"({"build":1,"dmg":"d","sha256":"s"})", missing}, {R"({"version":null,"build":1,"dmg":"d","sha256":"s"})", missing},
        {R"({"version":"1","dmg":"d","sha256":"s"})", missing}, {R"({"version":1.2,"build":1,"dmg":"d","sha256":"s"})", format},
        {R"({"version":"1","build":"28","dmg":"d","sha256":"s"})", format},
        {R"({"version":"1","build":1.5,"dmg":"d","sha256":"s"})", format},
        {R"({"version":"1","build":1,"dmg":"d","sha256":"s","notes":7})", format}, {R"([1,2])", format},
        {R"({"version":"1",)", format}, {"", format},
        {R"({"version":"1","build":1e999,"dmg":"d","sha256":"s"})", format},
        {R"({"version":"1","build":1.0,"dmg":"d","sha256":"s"})", decoded},
        // A member nobody reads may hold a number no double can: the description still stands.
        {R"({"version":"1","build":1,"dmg":"d","sha256":"s","size":1e999})", decoded},
    };
    for (const auto &[json, text] : cases)
        EXPECT_EQ(failureOf(json), text) << json.constData();
}

TEST(VersionTest, ParsesOneToThreeDecimalPiecesAndOrdersThemAsNumbers)
{
    const std::pair<const char *, std::optional<Version>> table[]{
        {"1.2.24", Version{1, 2, 24}}, {"2", Version{2, 0, 0}},    {"01.002.0024", Version{1, 2, 24}},
        {"+1.2.3", Version{1, 2, 3}},  {"1.+2", Version{1, 2, 0}}, {"0.0.0", Version{0, 0, 0}},
        {"1.2.24.1", {}}, {"1..2", {}}, {"1.2.x", {}}, {"1.-2", {}}, {"-0", {}}, {"-1.2.3", {}}, {"", {}}, {".", {}},
        {"1.2.", {}}, {" 1.2", {}}, {"1.2 ", {}}, {"+", {}}, {"1.0x10", {}}, {"99999999999999999999", {}}, {"١.٢", {}}};
    for (const auto &[text, expected] : table)
        EXPECT_EQ(Version::parse(QString::fromUtf8(text)), expected) << text;

    const auto v = [](const char *text) { return *Version::parse(QString::fromLatin1(text)); };
    for (const auto &[lower, higher] : {std::pair{"1.2.23", "1.2.24"}, {"1.2.99", "1.3"}, {"1.99.99", "2"}, {"1.9", "1.10"}})
        EXPECT_LT(v(lower), v(higher)) << lower; // as numbers, not texts
    EXPECT_EQ(v("1.2"), v("1.2.0"));
}

const Manifest release = test::release();

int identityCode(const QString &bundle, const Manifest &manifest = release, QString *text = nullptr)
{
    return test::updateErrorCode([&] { UpdateManager::validateBundleIdentity(bundle, manifest); }, text);
}

TEST(BundleIdentity, IsCheckedAgainstTheManifestInEitherPropertyListFormat)
{
    const QString notVorlik = QStringLiteral("The update bundle is not Vorlik Desktop.");
    const std::tuple<test::BundleInfo, Manifest, int, QString> table[]{
        {{}, release, 0, {}}, {{.identifier = "com.example.other"}, release, 8, notVorlik}, {{.identifier = std::nullopt}, release, 8, notVorlik},
        {{.shortVersion = "1.2"}, test::release("1.2.0"), 9, "The update bundle version (1.2) does not match the manifest (1.2.0)."},
        {{.shortVersion = "1.2.24"}, release, 9, "The update bundle version (1.2.24) does not match the manifest (1.2.25)."},
        {{.shortVersion = std::nullopt}, release, 9, "The update bundle version () does not match the manifest (1.2.25)."},
        {{.build = std::nullopt}, release, 10, "The update bundle build () does not match the manifest (28)."},
        {{.build = "027"}, test::release("1.2.25", 27), 10, "The update bundle build (027) does not match the manifest (27)."},
        // A macOS requirement names no Linux version: it does not apply here.
        {{}, test::release("1.2.25", 28, "99.0"), 0, {}}, {{}, test::release("1.2.25", 28, "sonoma"), 0, {}},
    };
    for (const auto &[info, manifest, code, text] : table) {
        for (const bool binary : {false, true}) {
            SCOPED_TRACE(text.toStdString() + (binary ? " (binary)" : " (XML)"));
            QTemporaryDir folder;
            test::BundleInfo written = info;
            written.binary = binary;
            QString description;
            EXPECT_EQ(identityCode(test::makeBundle(folder.path(), written), manifest, &description), code);
            EXPECT_EQ(description, text);
        }
    }
}

TEST(BundleIdentity, AnUnreadableInfoPlistIsCode7AndOddStringsAreRefusedWithoutEndingTheProgram)
{
    QTemporaryDir folder;
    const QString bundle = test::makeBundle(folder.path(), {});
    const QString plist = bundle + QStringLiteral("/Contents/Info.plist");
    const QByteArray good = test::readFile(plist);
    for (const QByteArray &content : {QByteArray("not a property list"), QByteArray(),
                                      QByteArray("<?xml version=\"1.0\"?><plist><array/></plist>"), QByteArray("bplist00garbage")}) {
        test::writeFile(plist, content);
        QString description;
        EXPECT_EQ(identityCode(bundle, release, &description), 7) << content.constData();
        EXPECT_EQ(description, QStringLiteral("The update bundle has no readable Info.plist."));
    }
    QFile::remove(plist);
    EXPECT_EQ(identityCode(bundle), 7);

    const QByteArray zero(1, '\0');
    const std::tuple<QByteArray, QByteArray, int> cases[] = {
        // Found by fuzzing: libplist's plain string reader asserts on a zero byte and aborts.
        {"com.vorlik.desktop", "com.v" + QByteArray(8, '\0') + "sktop", 8},
        {"com.vorlik.desktop", "com.vorlik.desktop" + zero, 8}, {"com.vorlik.desktop", zero, 8},
        // The bytes of "1.2.25" and the first byte of a two-byte character: not UTF-8, so not the
        // manifest's version, though a decoder that waits for more input would read "1.2.25".
        {"1.2.25", "1.2.25\xc7", 9},
    };
    for (const auto &[original, replacement, code] : cases) {
        QByteArray changed = good;
        ASSERT_TRUE(changed.contains("<string>" + original + "</string>"));
        test::writeFile(plist, changed.replace("<string>" + original + "</string>", "<string>" + replacement + "</string>"));
        EXPECT_EQ(identityCode(bundle), code) << replacement.toHex().toStdString();
    }
}

QByteArray attachReport(const QByteArray &entities)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>system-entities</key><array>)"
        + entities + "</array></dict></plist>";
}

QByteArray mountEntity(const QByteArray &point) { return "<dict><key>mount-point</key><string>" + point + "</string></dict>"; }

TEST(AttachReport, TheFirstMountPointThatIsAPathWins)
{
    const QByteArray partitionScheme = "<dict><key>content-hint</key><string>GUID_partition_scheme</string>"
                                       "<key>dev-entry</key><string>/dev/disk4</string></dict>";
    const QByteArray volume = "<dict><key>dev-entry</key><string>/dev/disk4s1</string>"
                              "<key>mount-point</key><string>/Volumes/Vorlik Desktop</string></dict>";
    const QByteArray zeroByte = mountEntity("/dev/di" + QByteArray(2, '\0') + "4s1");
    // Found by fuzzing: a string may hold any bytes; read with replacement characters it
    // named a folder that does not exist.
    const QByteArray notUTF8 = mountEntity("/Vo\x97\x8ames/V");
    const std::pair<QByteArray, std::optional<QString>> cases[]{
        {attachReport(partitionScheme + mountEntity("") + volume + mountEntity("/Volumes/Other")), "/Volumes/Vorlik Desktop"},
        {attachReport(zeroByte + notUTF8 + volume), "/Volumes/Vorlik Desktop"},
        {attachReport(partitionScheme), std::nullopt}, {attachReport(zeroByte), std::nullopt},
        {attachReport("<string>/Volumes/X</string>"), std::nullopt}, {"", std::nullopt},
        {attachReport("<dict><key>mount-point</key><integer>3</integer></dict>"), std::nullopt},
        {"hdiutil: attach failed - no mountable file systems", std::nullopt}, {R"(<?xml version="1.0"?><plist><array/></plist>)", std::nullopt},
        // A binary report reads the same; a string of the same length keeps its offsets right.
        {test::toBinaryPlist(attachReport(mountEntity("/Volumes/V"))), "/Volumes/V"},
        {test::toBinaryPlist(attachReport(mountEntity("/Volumes/V"))).replace("/Volumes/V", "/Vo\x97\x8ames/V"), std::nullopt},
    };
    for (const auto &[report, point] : cases)
        EXPECT_EQ(UpdateManager::mountPoint(report), point) << report.toStdString();
}

TEST(RunProcess, GivesTheMergedOutputOrNone)
{
    const auto shell = [](const char *script) {
        return UpdateManager::runProcess(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(script)});
    };
    EXPECT_EQ(shell("echo out; echo err >&2"), QStringLiteral("out\nerr\n"));
    EXPECT_EQ(shell("echo x; exit 3"), QStringLiteral("x\n")); // the exit status is not judged
    EXPECT_EQ(UpdateManager::runProcess(QStringLiteral("/no/such/tool"), {}), std::nullopt);
    EXPECT_EQ(shell("printf '\\377\\376'"), std::nullopt);
    // More than a pipe holds does not stall it.
    EXPECT_EQ(shell("head -c 300000 /dev/zero | tr '\\0' a"), QString(300000, u'a'));
}

} // namespace
