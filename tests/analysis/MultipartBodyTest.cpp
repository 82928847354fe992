// The upload body on disk, byte for byte: head, the file unchanged across chunk boundaries,
// tail; file-name sanitising; and clear errors for sources that cannot be read.
#include "analysis/FileError.h"
#include "analysis/MultipartBody.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

using namespace vorlik;
using namespace vorlik::analysis;

namespace {

const QString boundary = QStringLiteral("VorlikBoundary-0f8fad5b-d9cb-469f-a165-70867728950e");

// Writes the body for `source` sent as `name` and returns the bytes written.
QByteArray bodyFor(const QString &source, const QString &name)
{
    QTemporaryDir dir;
    QFile sink(dir.filePath(QStringLiteral("body.multipart")));
    EXPECT_TRUE(sink.open(QIODevice::WriteOnly));
    MultipartBody::write(sink, source, name, boundary);
    sink.close();
    return test::readFile(sink.fileName());
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(generator.bounded(256));
    return bytes;
}

TEST(MultipartBody, BoundaryIsPrefixedUUID)
{
    const QString first = MultipartBody::makeBoundary();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^VorlikBoundary-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                    .match(first)
                    .hasMatch())
        << first.toStdString();
    EXPECT_NE(first, MultipartBody::makeBoundary());
}

TEST(MultipartBody, SmallFileExactBytes)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("take 1.wav"));
    test::writeFile(source, QByteArray("RIFF\r\n--\0data", 13));
    const QByteArray expected =
        "--VorlikBoundary-0f8fad5b-d9cb-469f-a165-70867728950e\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"take 1.wav\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" + QByteArray("RIFF\r\n--\0data", 13)
        + "\r\n--VorlikBoundary-0f8fad5b-d9cb-469f-a165-70867728950e--\r\n";
    EXPECT_EQ(bodyFor(source, QStringLiteral("take 1.wav")), expected);
}

TEST(MultipartBody, ZeroByteFileIsHeadThenTail)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("empty.wav"));
    test::writeFile(source, {});
    EXPECT_EQ(bodyFor(source, QStringLiteral("empty.wav")),
              MultipartBody::head(boundary, QStringLiteral("empty.wav")) + MultipartBody::tail(boundary));
    EXPECT_EQ(MultipartBody::tail(boundary), "\r\n--" + boundary.toUtf8() + "--\r\n");
}

TEST(MultipartBody, LargeFileCopiedUnchangedAcrossChunks)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("long.flac"));
    // Two and a half chunks plus one byte: a partial last read and an exact chunk both occur.
    const QByteArray content = randomBytes(2 * MultipartBody::chunkBytes + MultipartBody::chunkBytes / 2 + 1);
    test::writeFile(source, content);
    const QByteArray body = bodyFor(source, QStringLiteral("long.flac"));
    const QByteArray head = MultipartBody::head(boundary, QStringLiteral("long.flac"));
    const QByteArray tail = MultipartBody::tail(boundary);
    ASSERT_EQ(body.size(), head.size() + content.size() + tail.size());
    EXPECT_TRUE(body.startsWith(head));
    EXPECT_TRUE(body.endsWith(tail));
    EXPECT_TRUE(body.mid(head.size(), content.size()) == content);

    const QString exact = dir.filePath(QStringLiteral("exact.wav"));
    test::writeFile(exact, content.left(MultipartBody::chunkBytes));
    EXPECT_EQ(bodyFor(exact, QStringLiteral("exact.wav")).size(),
              MultipartBody::head(boundary, QStringLiteral("exact.wav")).size() + MultipartBody::chunkBytes + tail.size());
}

TEST(MultipartBody, FileNamesAreSanitised)
{
    struct Case {
        QString name;
        QString sent;
    };
    for (const Case &c : {Case{QStringLiteral("a\"b.wav"), QStringLiteral("a_b.wav")},
                          Case{QStringLiteral("line\nbreak.wav"), QStringLiteral("line break.wav")},
                          Case{QStringLiteral("cr\r\nlf.wav"), QStringLiteral("cr  lf.wav")},
                          Case{QStringLiteral("\"\"\r"), QStringLiteral("__ ")},
                          Case{QStringLiteral("semi;colon\\back'tick.wav"), QStringLiteral("semi;colon\\back'tick.wav")},
                          Case{QStringLiteral("Größe ♫.wav"), QStringLiteral("Größe ♫.wav")}})
        EXPECT_EQ(MultipartBody::sanitisedFileName(c.name), c.sent);
}

TEST(MultipartBody, QuotesAndLineBreaksOnDiskAreSentSanitised)
{
    QTemporaryDir dir;
    const QString name = QStringLiteral("My \"best\"\r\ntake ♫.wav");
    const QString source = dir.filePath(name);
    test::writeFile(source, "abc");
    const QByteArray body = bodyFor(source, name);
    EXPECT_TRUE(body.contains("filename=\"My _best_  take \xE2\x99\xAB.wav\"\r\n")) << body.constData();
    // The head stays three lines however the name was spelled.
    EXPECT_EQ(body.left(body.indexOf("\r\n\r\n")).count("\r\n"), 2);
    EXPECT_TRUE(body.endsWith("abc" + MultipartBody::tail(boundary)));
}

TEST(MultipartBody, UnreadableSourcesFailWithTheirName)
{
    QTemporaryDir dir;
    QFile sink(dir.filePath(QStringLiteral("body.multipart")));
    ASSERT_TRUE(sink.open(QIODevice::WriteOnly));
    try {
        MultipartBody::write(sink, dir.filePath(QStringLiteral("missing.wav")), QStringLiteral("missing.wav"), boundary);
        FAIL() << "a missing source was written";
    } catch (const FileError &error) {
        EXPECT_EQ(error.operation(), FileError::Operation::open);
        EXPECT_EQ(error.description(),
                  QStringLiteral("The file \u201Cmissing.wav\u201D couldn\u2019t be opened: No such file or directory."));
    }
    try {
        MultipartBody::write(sink, dir.path(), QStringLiteral("folder"), boundary);
        FAIL() << "a folder was written as a file";
    } catch (const FileError &error) {
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("The file \u201Cfolder\u201D couldn\u2019t be")))
            << error.description().toStdString();
    }
}

TEST(MultipartBody, FullDiskIsAWriteError)
{
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full on this system";
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("a.wav"));
    test::writeFile(source, randomBytes(3 * MultipartBody::chunkBytes));
    QFile sink(QStringLiteral("/dev/full"));
    ASSERT_TRUE(sink.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    try {
        MultipartBody::write(sink, source, QStringLiteral("a.wav"), boundary);
        FAIL() << "writing to a full device succeeded";
    } catch (const FileError &error) {
        EXPECT_EQ(error.operation(), FileError::Operation::write);
        EXPECT_TRUE(error.description().contains(QStringLiteral("No space left on device")))
            << error.description().toStdString();
    }
}

} // namespace
