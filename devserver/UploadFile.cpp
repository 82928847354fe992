#include "devserver/UploadFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vorlik::devserver {

namespace {

constexpr size_t batchBytes = 1 << 20;

} // namespace

UploadFile::UploadFile(QString path, qint64 limitBytes) : m_path(std::move(path)), m_limit(limitBytes)
{
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_fd < 0)
        m_error = QString::fromLocal8Bit(std::strerror(errno));
    else
        m_buffer.reserve(batchBytes);
}

UploadFile::~UploadFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_keep)
        QFile::remove(m_path);
}

void UploadFile::append(const char *data, qint64 size)
{
    const qint64 room = std::max<qint64>(0, m_limit - m_size);
    m_size += size;
    if (m_fd < 0 || !m_error.isEmpty())
        return;
    qint64 kept = std::min(size, room);
    while (kept > 0) {
        const size_t take = std::min<size_t>(size_t(kept), batchBytes - m_buffer.size());
        m_buffer.insert(m_buffer.end(), data, data + take);
        data += take;
        kept -= qint64(take);
        if (m_buffer.size() == batchBytes && !flush())
            return;
    }
}

bool UploadFile::flush()
{
    const char *data = m_buffer.data();
    size_t left = m_buffer.size();
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            m_error = QString::fromLocal8Bit(std::strerror(written < 0 ? errno : ENOSPC));
            return false;
        }
        data += written;
        left -= size_t(written);
    }
    m_buffer.clear();
    return true;
}

bool UploadFile::finish()
{
    if (m_fd < 0)
        return false;
    const bool flushed = m_error.isEmpty() && flush();
    if (::close(m_fd) != 0 && flushed)
        m_error = QString::fromLocal8Bit(std::strerror(errno));
    m_fd = -1;
    return m_error.isEmpty();
}

} // namespace vorlik::devserver
