#pragma once
// The upload's multipart/form-data body: one form field "file", the file's bytes unchanged
// between a UTF-8 head and tail (MultipartStream reads the three as one body).
#include <QByteArray>
#include <QString>

namespace vorlik::analysis {

class MultipartBody {
public:
    // "VorlikBoundary-" + a fresh UUID in its 36-character form.
    static QString makeBoundary();

    // The file name as sent: every double quote becomes "_", every CR and LF a space; nothing
    // else is escaped.
    static QString sanitisedFileName(const QString &fileName);

    // "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"N\"\r\n"
    // "Content-Type: application/octet-stream\r\n\r\n", N sanitised here.
    static QByteArray head(const QString &boundary, const QString &fileName);
    // "\r\n--B--\r\n"
    static QByteArray tail(const QString &boundary);
};

} // namespace vorlik::analysis
