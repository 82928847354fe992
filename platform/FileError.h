#pragma once
// A file-system operation that failed, with the system's own reason ("Permission denied",
// "Not a directory", ...) and the path it concerned.
#include "platform/Failure.h"

#include <system_error>

namespace vorlik::platform {

class FileError : public Failure {
public:
    // description: action + " " + path + ": " + the system's message, e.g.
    // "Could not create the folder /x/FFmpegTools: Not a directory"
    FileError(const QString &action, const QString &path, std::error_code error);

    const QString &path() const { return m_path; }
    std::error_code error() const { return m_error; }

private:
    QString m_path;
    std::error_code m_error;
};

} // namespace vorlik::platform
