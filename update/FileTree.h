#pragma once
// Whole folders copied and removed the way the updater needs them: links copied as links,
// permission bits kept (the owner can always write the copy, so it can be replaced later), and
// removal that also clears folders made read-only.
#include <QString>

namespace vorlik::update {

struct FileTree {
    // Copies `from` (a folder, file or link) to `to`, which must not exist. Entries are copied
    // in name order; the first that fails ends the copy with platform::FileError, leaving what
    // was copied before it. Devices, pipes and sockets are refused.
    static void copy(const QString &from, const QString &to);
    // Removes `path` and everything below it, making read-only folders writable on the way.
    // True when nothing is left at `path` (also when there was nothing).
    static bool remove(const QString &path);
    // Takes every write permission off `path` and everything below it (links untouched).
    static void makeReadOnly(const QString &path);
};

} // namespace vorlik::update
