#pragma once
// The upload's multipart/form-data body, assembled on disk so an audio file is never held in
// memory: one form field "file", the file's bytes copied unchanged in 1 MiB chunks between a
// UTF-8 head and tail.
#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace vorlik::analysis {

class MultipartBody {
public:
    static constexpr qint64 chunkBytes = 1048576;

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

    // Writes head, the source's bytes and tail to `sink` (open for writing), then flushes it.
    // `fileName` is the name to send (sanitised here). Throws FileError naming the file that
    // failed; the source is closed on every exit.
    static void write(QFileDevice &sink, const QString &sourcePath, const QString &fileName, const QString &boundary);
};

} // namespace vorlik::analysis
