#include "analysis/FileError.h"

#include <cstring>

namespace vorlik::analysis {
namespace {

QString verb(FileError::Operation operation)
{
    switch (operation) {
    case FileError::Operation::create: return QStringLiteral("created");
    case FileError::Operation::open: return QStringLiteral("opened");
    case FileError::Operation::read: return QStringLiteral("read");
    case FileError::Operation::write: return QStringLiteral("written");
    }
    return QStringLiteral("used");
}

QString describeFailure(FileError::Operation operation, const QString &fileName, QString reason)
{
    if (reason.isEmpty() || reason == QLatin1String("Unknown error"))
        reason = QStringLiteral("unknown error");
    return QStringLiteral("The file \u201C%1\u201D couldn\u2019t be %2: %3.").arg(fileName, verb(operation), reason);
}

} // namespace

FileError::FileError(Operation operation, const QString &fileName, const QFileDevice &file)
    : Failure(describeFailure(operation, fileName, file.errorString())), m_operation(operation), m_code(file.error())
{
}

FileError::FileError(Operation operation, const QString &fileName, int errnoCode)
    : Failure(describeFailure(operation, fileName, QString::fromLocal8Bit(std::strerror(errnoCode)))),
      m_operation(operation), m_code(operation == Operation::write ? QFileDevice::WriteError : QFileDevice::ReadError)
{
}

FileError::FileError(Operation operation, const QString &fileName, const QString &reason)
    : Failure(describeFailure(operation, fileName, reason)), m_operation(operation),
      m_code(operation == Operation::write ? QFileDevice::WriteError : QFileDevice::ReadError)
{
}

} // namespace vorlik::analysis
