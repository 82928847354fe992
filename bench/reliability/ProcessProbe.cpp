#include "bench/reliability/ProcessProbe.h"

#include "bench/support/BenchSupport.h"
#include "tests/support/ChildProcesses.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <malloc.h>
#include <unistd.h>

namespace vorlik::soak {

qint64 ProcessProbe::residentKiB() { return bench::statusKiB("VmRSS:"); }

qint64 ProcessProbe::anonymousKiB() { return bench::statusKiB("RssAnon:"); }

QStringList ProcessProbe::descriptorTargets()
{
    QStringList targets;
    const QString folder = QStringLiteral("/proc/self/fd");
    for (const QString &fd : QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        targets << fd + QStringLiteral("=") + QFile::symLinkTarget(folder + u'/' + fd);
    return targets;
}

qint64 ProcessProbe::heapInUseKiB()
{
    const struct mallinfo2 info = ::mallinfo2(); // every arena
    return qint64((info.uordblks + info.hblkhd) / 1024);
}

int ProcessProbe::openDescriptors()
{
    // The listing itself holds one descriptor while it reads; it is not counted.
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size()) - 1;
}

QList<ProcessProbe::Child> ProcessProbe::children()
{
    return test::childProcessesOf(::getpid());
}

QStringList ProcessProbe::leftovers(const QStringList &folders, const QStringList &prefixes)
{
    QStringList found;
    for (const QString &folder : folders) {
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString name = it.fileName();
            for (const QString &prefix : prefixes)
                if (name.startsWith(prefix)) {
                    found << path;
                    break;
                }
        }
    }
    return found;
}

} // namespace vorlik::soak
