// The upload body as the stream reads it, byte for byte: head, the file unchanged across read
// boundaries, tail; read again after a rewind; file-name sanitising; and clear errors for sources
// that cannot be read or that shrink after the body's length was fixed.
#include "analysis/FileError.h"
#include "analysis/MultipartBody.h"
#include "analysis/MultipartStream.h"
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

// Reads the whole stream in reads of `pieceBytes`.
QByteArray readAll(MultipartStream &stream, qint64 pieceBytes)
{
    QByteArray body;
    QByteArray piece(pieceBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 read = stream.read(piece.data(), pieceBytes);
        EXPECT_GE(read, 0) << stream.errorString().toStdString();
        if (read <= 0)
            return body;
        body.append(piece.constData(), read);
    }
}

QByteArray bodyFor(const QString &source, const QString &name, qint64 pieceBytes = 256 * 1024)
{
    MultipartStream stream(source, name, boundary);
    const QByteArray body = readAll(stream, pieceBytes);
    EXPECT_EQ(body.size(), stream.size());
    EXPECT_TRUE(stream.atEnd());
    return body;
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
    // One byte at a time crosses every boundary between head, file and tail.
    EXPECT_EQ(bodyFor(source, QStringLiteral("take 1.wav"), 1), expected);
}

TEST(MultipartBody, LargeFileReadUnchangedAndAgainAfterARewind)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("long.flac"));
    const QByteArray content = randomBytes(3 * 1024 * 1024 + 7);
    test::writeFile(source, content);
    const QByteArray expected = MultipartBody::head(boundary, QStringLiteral("long.flac")) + content
        + MultipartBody::tail(boundary);
    for (const qint64 piece : {qint64(1000), qint64(256 * 1024), qint64(8 << 20)})
        EXPECT_TRUE(bodyFor(source, QStringLiteral("long.flac"), piece) == expected) << "reads of " << piece;

    // Read again from the start, it is the same body.
    MultipartStream stream(source, QStringLiteral("long.flac"), boundary);
    EXPECT_FALSE(stream.isSequential());
    EXPECT_EQ(stream.size(), expected.size());
    const QByteArray firstPart = stream.read(1 << 20);
    ASSERT_TRUE(stream.seek(0));
    EXPECT_TRUE(readAll(stream, 64 * 1024) == expected);
    EXPECT_TRUE(firstPart == expected.left(1 << 20));
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

TEST(MultipartBody, UnreadableSourcesFailWithTheirName)
{
    QTemporaryDir dir;
    try {
        MultipartStream stream(dir.filePath(QStringLiteral("missing.wav")), QStringLiteral("missing.wav"), boundary);
        FAIL() << "a missing source was opened";
    } catch (const FileError &error) {
        EXPECT_EQ(error.operation(), FileError::Operation::open);
        EXPECT_EQ(error.description(),
                  QStringLiteral("The file \u201Cmissing.wav\u201D couldn\u2019t be opened: No such file or directory."));
    }
    try {
        MultipartStream stream(dir.path(), QStringLiteral("folder"), boundary);
        readAll(stream, 4096);
        FAIL() << "a folder was read as a file";
    } catch (const FileError &error) {
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("The file \u201Cfolder\u201D couldn\u2019t be")))
            << error.description().toStdString();
    }
}

TEST(MultipartBody, ASourceThatShrinksAfterTheLengthWasFixedFailsTheRead)
{
    // The length went out in the request's header; a shorter body would be a different request.
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("shrinking.wav"));
    test::writeFile(source, randomBytes(100000));
    MultipartStream stream(source, QStringLiteral("shrinking.wav"), boundary);
    const qint64 announced = stream.size();
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(50000));
    file.close();

    QByteArray piece(64 * 1024, Qt::Uninitialized);
    qint64 total = 0, read = 0;
    while ((read = stream.read(piece.data(), piece.size())) > 0)
        total += read;
    EXPECT_EQ(read, -1);
    EXPECT_LT(total, announced);
    ASSERT_TRUE(stream.failure().has_value());
    EXPECT_EQ(stream.failure()->operation(), FileError::Operation::read);
    EXPECT_EQ(stream.failure()->description(),
              QStringLiteral("The file \u201Cshrinking.wav\u201D couldn\u2019t be read: it changed while it was being sent."));
}

} // namespace
