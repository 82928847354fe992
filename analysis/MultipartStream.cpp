#include "analysis/MultipartStream.h"

#include "analysis/MultipartBody.h"

#include <cerrno>
#include <cstring>

namespace vorlik::analysis {

MultipartStream::MultipartStream(SourceFile &&source, const QString &fileName, const QString &boundary)
    : m_head(MultipartBody::head(boundary, fileName)), m_tail(MultipartBody::tail(boundary)), m_fileName(fileName)
{
    m_source.setParent(this); // goes with the stream to the thread that reads it
    if (!source.isOpen()) {
        if (source.errorCode() != 0)
            throw FileError(FileError::Operation::open, fileName, source.errorCode());
        throw FileError(FileError::Operation::open, fileName, QStringLiteral("it is not a regular file"));
    }
    m_sourceSize = source.size();
    if (!m_source.open(source.release(), QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        throw FileError(FileError::Operation::open, fileName, m_source);
    // Unbuffered: the sender reads in large pieces of its own, and the position it sees must
    // be the one readData starts from.
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

MultipartStream::MultipartStream(const QString &sourcePath, const QString &fileName, const QString &boundary)
    : MultipartStream(SourceFile(sourcePath), fileName, boundary)
{
}

bool MultipartStream::seek(qint64 position)
{
    if (position < 0 || position > size())
        return false;
    QIODevice::seek(position);
    m_position = position;
    return true;
}

qint64 MultipartStream::readData(char *data, qint64 maxSize)
{
    if (m_failure)
        return -1;
    qint64 done = 0;
    const qint64 headEnd = m_head.size();
    const qint64 sourceEnd = headEnd + m_sourceSize;
    while (done < maxSize && m_position < size()) {
        const qint64 wanted = maxSize - done;
        qint64 got = 0;
        if (m_position < headEnd) {
            got = std::min(wanted, headEnd - m_position);
            std::memcpy(data + done, m_head.constData() + m_position, size_t(got));
        } else if (m_position < sourceEnd) {
            got = readSource(data + done, m_position - headEnd, std::min(wanted, sourceEnd - m_position));
            if (got < 0)
                return -1;
        } else {
            got = std::min(wanted, size() - m_position);
            std::memcpy(data + done, m_tail.constData() + (m_position - sourceEnd), size_t(got));
        }
        done += got;
        m_position += got;
    }
    return done;
}

qint64 MultipartStream::readSource(char *data, qint64 offset, qint64 maxSize)
{
    if (m_source.pos() != offset && !m_source.seek(offset)) {
        m_failure.emplace(FileError::Operation::read, m_fileName, m_source);
        setErrorString(m_failure->description());
        return -1;
    }
    const qint64 read = m_source.read(data, maxSize);
    if (read > 0)
        return read;
    // An error, or the end of a file that has shrunk since the body's length was announced.
    if (read < 0)
        m_failure.emplace(FileError::Operation::read, m_fileName, m_source);
    else
        m_failure.emplace(FileError::Operation::read, m_fileName, QStringLiteral("it changed while it was being sent"));
    setErrorString(m_failure->description());
    return -1;
}

} // namespace vorlik::analysis
