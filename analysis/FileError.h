#pragma once
// A file the analysis work needed could not be created, opened, read or written. The text names
// the file and carries the system's own reason ("No space left on device").
#include "platform/Failure.h"

#include <QFileDevice>
#include <QString>

namespace vorlik::analysis {

class FileError : public Failure {
public:
    enum class Operation { create, open, read, write };

    // "The file “a.wav” couldn’t be opened: No such file or directory."
    FileError(Operation operation, const QString &fileName, const QFileDevice &file);
    // The same for a failed system call, with the reason its errno gives.
    FileError(Operation operation, const QString &fileName, int errnoCode);
    // The same with a reason of this program's own ("it changed while it was being sent").
    FileError(Operation operation, const QString &fileName, const QString &reason);

    Operation operation() const { return m_operation; }
    QFileDevice::FileError code() const { return m_code; }

private:
    Operation m_operation;
    QFileDevice::FileError m_code;
};

} // namespace vorlik::analysis
