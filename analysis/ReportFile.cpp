#include "analysis/ReportFile.h"

#include "analysis/FileError.h"
#include "convert/OutputName.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/stat.h>

namespace vorlik::analysis {

namespace {
const QString extension = QStringLiteral(".txt");

// The process's umask, read without changing it (umask() would, for a moment, for every thread).
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask);
            }
        }
    }
    return 022;
}
} // namespace

QString ReportFile::proposedName(const QString &inputPath)
{
    return QFileInfo(inputPath).completeBaseName() + QStringLiteral("_report") + extension;
}

QString ReportFile::saveInto(const QString &folder, const QString &inputPath, const QByteArray &report)
{
    if (!QFileInfo(folder).isDir())
        throw FileError(FileError::Operation::open, folder, ENOENT);
    // Written whole under a hidden name first, then moved to a free name without replacing
    // anything: a failure leaves no half report, and no other file is ever overwritten.
    QTemporaryFile partial(QDir(folder).filePath(QStringLiteral(".vorlik-tmp-XXXXXX-report")));
    if (!partial.open())
        throw FileError(FileError::Operation::create, proposedName(inputPath), partial);
    if (partial.write(report) != report.size() || !partial.flush())
        throw FileError(FileError::Operation::write, proposedName(inputPath), partial);
    // A temporary file is private (0600); the report gets the mode any file the user saves gets.
    ::fchmod(partial.handle(), 0666 & ~currentUmask());
    partial.close();
    const QString base = QFileInfo(inputPath).completeBaseName() + QStringLiteral("_report");
    const QString path = convert::OutputName::moveIntoPlace(
        partial.fileName(), convert::OutputName::firstFree(folder, base, extension), folder, base, extension);
    partial.setAutoRemove(false);
    return path;
}

} // namespace vorlik::analysis
