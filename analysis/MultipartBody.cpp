#include "analysis/MultipartBody.h"

#include <QUuid>

namespace vorlik::analysis {

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

} // namespace vorlik::analysis
