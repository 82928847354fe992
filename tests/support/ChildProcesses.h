#pragma once
// The processes a given process started, read from /proc: the tests and the soak run look for
// helpers (ffmpeg, curl) left running behind a stopped run.
#include <QList>
#include <QString>

#include <sys/types.h>

namespace vorlik::test {

struct ChildProcess {
    pid_t pid = 0;
    QString name; // the command name /proc gives, at most 15 characters
    char state = '?';
};

// The processes whose parent is `parent` (zombies included). One that ends while the list is
// read is left out.
QList<ChildProcess> childProcessesOf(pid_t parent);

} // namespace vorlik::test
