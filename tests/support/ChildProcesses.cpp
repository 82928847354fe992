#include "tests/support/ChildProcesses.h"

#include <QDir>
#include <QFile>

namespace vorlik::test {

QList<ChildProcess> childProcessesOf(pid_t parent)
{
    QList<ChildProcess> found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('(');
        const qsizetype close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (rest.size() < 2 || rest.at(1).toInt() != parent)
            continue;
        found.append(ChildProcess{pid, QString::fromUtf8(line.mid(open + 1, close - open - 1)),
                                  rest.at(0).isEmpty() ? '?' : rest.at(0).front()});
    }
    return found;
}

} // namespace vorlik::test
