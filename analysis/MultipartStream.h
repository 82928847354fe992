#pragma once
// The upload's multipart/form-data body as one readable device: the UTF-8 head, the source
// file's bytes as they lie on disk, and the tail, read in place. Nothing is copied to disk and
// no more than one read's worth is held in memory. Its size is known from the start (the
// Content-Length goes out before the body), and it can be read again from any position.
#include "analysis/FileError.h"
#include "analysis/SourceFile.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

#include <optional>

namespace vorlik::analysis {

class MultipartStream : public QIODevice {
public:
    // Reads `source` (sent under the name `fileName`, sanitised here), taking its descriptor;
    // throws FileError naming the file when it is not open. The body's length is fixed here: a
    // source that grows afterwards is sent as it was, one that shrinks fails the read.
    MultipartStream(SourceFile &&source, const QString &fileName, const QString &boundary);
    // The same, opening `sourcePath` on the calling thread.
    MultipartStream(const QString &sourcePath, const QString &fileName, const QString &boundary);

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_head.size() + m_sourceSize + m_tail.size(); }
    bool seek(qint64 position) override;
    bool atEnd() const override { return m_position >= size(); }

    // The source's read failure, if a read failed: the network layer only sees the device fail.
    const std::optional<FileError> &failure() const { return m_failure; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    qint64 readSource(char *data, qint64 offset, qint64 maxSize);

    QByteArray m_head;
    QByteArray m_tail;
    QString m_fileName;
    QFile m_source;
    qint64 m_sourceSize = 0;
    qint64 m_position = 0;
    std::optional<FileError> m_failure;
};

} // namespace vorlik::analysis
