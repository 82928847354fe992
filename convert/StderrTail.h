#pragma once
// The bounded end of a child's error stream: ffmpeg's progress lines can run to megabytes, the
// user only needs the last screenful. Trimmed on every append, so memory stays bounded.
#include <QString>

#include <mutex>

namespace vorlik::convert {

class StderrTail {
public:
    static constexpr qsizetype limit = 8192; // user-perceived characters

    void append(const QString &chunk);
    QString text() const;

private:
    mutable std::mutex m_lock;
    QString m_text; // guarded by m_lock
};

} // namespace vorlik::convert
