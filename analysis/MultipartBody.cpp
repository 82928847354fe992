#include "analysis/MultipartBody.h"

#include "analysis/FileError.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace vorlik::analysis {
namespace {

QString shownName(const QFileDevice &file)
{
    return QFileInfo(file.fileName()).fileName();
}

void writeAll(QFileDevice &sink, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 written = sink.write(data, size);
        if (written <= 0)
            throw FileError(FileError::Operation::write, shownName(sink), sink);
        data += written;
        size -= written;
    }
}

void writeAll(QFileDevice &sink, const QByteArray &bytes)
{
    writeAll(sink, bytes.constData(), bytes.size());
}

} // namespace

QString MultipartBody::makeBoundary()
{
    return QStringLiteral("VorlikBoundary-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString MultipartBody::sanitisedFileName(const QString &fileName)
{
    QString name = fileName;
    name.replace(QLatin1Char('"'), QLatin1Char('_'));
    name.replace(QLatin1Char('\r'), QLatin1Char(' '));
    name.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return name;
}

QByteArray MultipartBody::head(const QString &boundary, const QString &fileName)
{
    return QByteArrayLiteral("--") + boundary.toUtf8() + QByteArrayLiteral("\r\n")
        + QByteArrayLiteral("Content-Disposition: form-data; name=\"file\"; filename=\"")
        + sanitisedFileName(fileName).toUtf8() + QByteArrayLiteral("\"\r\n")
        + QByteArrayLiteral("Content-Type: application/octet-stream\r\n\r\n");
}

QByteArray MultipartBody::tail(const QString &boundary)
{
    return QByteArrayLiteral("\r\n--") + boundary.toUtf8() + QByteArrayLiteral("--\r\n");
}

void MultipartBody::write(QFileDevice &sink, const QString &sourcePath, const QString &fileName,
                          const QString &boundary)
{
    writeAll(sink, head(boundary, fileName));

    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw FileError(FileError::Operation::open, fileName, source);
    QByteArray chunk(chunkBytes, Qt::Uninitialized);
    for (;;) {
        const qint64 read = source.read(chunk.data(), chunkBytes);
        if (read < 0)
            throw FileError(FileError::Operation::read, fileName, source);
        if (read == 0)
            break;
        writeAll(sink, chunk.constData(), read);
    }
    source.close();

    writeAll(sink, tail(boundary));
    if (!sink.flush())
        throw FileError(FileError::Operation::write, shownName(sink), sink);
}

} // namespace vorlik::analysis
