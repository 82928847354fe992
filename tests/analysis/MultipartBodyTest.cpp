#include "analysis/FileError.h"
#include "analysis/MultipartBody.h"
#include "analysis/MultipartStream.h"
#include "tests/analysis/TestAudio.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

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

TEST(MultipartBody, TheBodyIsHeadFileAndTailHoweverItIsReadAndSourcesThatCannotBeReadFailWithTheirName)
{
    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("take 1.wav"));
    test::writeFile(small, QByteArray("RIFF\r\n--\0data", 13));
    const QByteArray expected =
        "--VorlikBoundary-0f8fad5b-d9cb-469f-a165-70867728950e\r\n"
        "Content-Disposition: form-data; name=\"file\"; filename=\"take 1.wav\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n" + QByteArray("RIFF\r\n--\0data", 13)
        + "\r\n--VorlikBoundary-0f8fad5b-d9cb-469f-a165-70867728950e--\r\n";
    // One byte at a time crosses every boundary between head, file and tail.
    EXPECT_EQ(bodyFor(small, QStringLiteral("take 1.wav"), 1), expected);

    // Read again from the start, it is the same body. (Its file bytes in larger reads are
    // proved on the wire by the upload tests.)
    MultipartStream stream(small, QStringLiteral("take 1.wav"), boundary);
    EXPECT_FALSE(stream.isSequential());
    EXPECT_EQ(stream.read(100), expected.left(100));
    ASSERT_TRUE(stream.seek(0));
    EXPECT_EQ(readAll(stream, 64 * 1024), expected);

    // A folder opens but cannot be read as a file.
    try {
        MultipartStream stream(dir.path(), QStringLiteral("folder"), boundary);
        readAll(stream, 4096);
        ADD_FAILURE() << "a folder was read as a file";
    } catch (const FileError &error) {
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("The file \u201Cfolder\u201D couldn\u2019t be")))
            << error.description().toStdString();
    }

    // A source that shrinks after the length went out in the request's header fails the read:
    // a shorter body would be a different request.
    const QString source = dir.filePath(QStringLiteral("shrinking.wav"));
    test::writeFile(source, test::randomBytes(100000));
    MultipartStream shrinking(source, QStringLiteral("shrinking.wav"), boundary);
    const qint64 announced = shrinking.size();
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.resize(50000));
    file.close();
    QByteArray piece(64 * 1024, Qt::Uninitialized);
    qint64 total = 0, read = 0;
    while ((read = shrinking.read(piece.data(), piece.size())) > 0)
        total += read;
    EXPECT_EQ(read, -1);
    EXPECT_LT(total, announced);
    ASSERT_TRUE(shrinking.failure().has_value());
    EXPECT_EQ(shrinking.failure()->operation(), FileError::Operation::read);
    EXPECT_EQ(shrinking.failure()->description(),
              QStringLiteral("The file \u201Cshrinking.wav\u201D couldn\u2019t be read: it changed while it was being sent."));
}

} // namespace
