#include "platform/FileError.h"

namespace vorlik::platform {

FileError::FileError(const QString &action, const QString &path, std::error_code error)
    : Failure(action + u' ' + path + QStringLiteral(": ") + QString::fromStdString(error.message())),
      m_path(path), m_error(error)
{
}

} // namespace vorlik::platform
