#pragma once
// The file an upload sends, opened for reading and measured. Opening can block for as long as
// the file system likes (a FIFO waits for a writer, a hung network mount for the server), so
// open() does it on a thread of its own and the caller only waits for the future, never on the
// file. Only regular files are sent: the body's length must be known before it goes out.
#include <QFuture>
#include <QString>

#include <memory>

namespace vorlik::analysis {

class SourceFile {
public:
    // Opens `path` now, on the calling thread.
    explicit SourceFile(const QString &path);
    ~SourceFile();
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    // Opens `path` on a thread of its own, which ends when the open does; the file closes when
    // the last holder of the result lets it go.
    static QFuture<std::shared_ptr<SourceFile>> open(const QString &path);

    bool isOpen() const { return m_descriptor >= 0; }
    // When not open: the system's reason (errno), or 0 when the file is not a regular file.
    int errorCode() const { return m_errorCode; }
    qint64 size() const { return m_size; }
    // Hands the open descriptor over to the caller, who closes it from then on.
    int release();

private:
    int m_descriptor = -1;
    int m_errorCode = 0;
    qint64 m_size = 0;
};

} // namespace vorlik::analysis
