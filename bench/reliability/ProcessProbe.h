#pragma once
// What the soak run watches in its own process: resident memory, open file descriptors, child
// processes, and temporary files left in folders.
#include <QList>
#include <QString>
#include <QStringList>

#include "tests/support/ChildProcesses.h"

#include <sys/types.h>

namespace vorlik::soak {

struct ProcessProbe {
    static qint64 residentKiB();  // VmRSS
    static qint64 anonymousKiB(); // RssAnon: the part not backed by files (heap, stacks)
    static qint64 heapInUseKiB(); // what the allocator has handed out and not had back
    static int openDescriptors(); // entries of /proc/self/fd
    static QStringList descriptorTargets(); // what each one is open on
    // The processes whose parent is this one (zombies included), with their command names.
    using Child = test::ChildProcess;
    static QList<Child> children();
    // Entries directly in each folder, and in its subfolders, whose names begin with one of
    // the prefixes.
    static QStringList leftovers(const QStringList &folders, const QStringList &prefixes);
};

} // namespace vorlik::soak
