#pragma once
// One uploaded file being written to disk as its bytes arrive: buffered in 1 MiB batches, never
// held whole in memory, with a size limit past which nothing more is written. The file is
// removed when the object goes away unless keep() was called.
#include <QString>

#include <vector>

namespace vorlik::devserver {

class UploadFile {
public:
    UploadFile(QString path, qint64 limitBytes);
    ~UploadFile();
    UploadFile(const UploadFile &) = delete;
    UploadFile &operator=(const UploadFile &) = delete;

    // False when the file could not be created (error() says why).
    bool isOpen() const { return m_fd >= 0; }
    // Appends bytes. Past the limit the bytes are only counted; a write failure is kept in error().
    void append(const char *data, qint64 size);
    // Flushes and closes; false on a write failure.
    bool finish();
    void keep() { m_keep = true; }

    qint64 size() const { return m_size; }   // bytes received, also those past the limit
    bool overLimit() const { return m_size > m_limit; }
    const QString &error() const { return m_error; }
    const QString &path() const { return m_path; }

private:
    bool flush();

    QString m_path;
    qint64 m_limit;
    int m_fd = -1;
    std::vector<char> m_buffer;
    qint64 m_size = 0;
    bool m_keep = false;
    QString m_error;
};

} // namespace vorlik::devserver
