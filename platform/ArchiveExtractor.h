#pragma once
// Unpacks zip and tar archives (any format and compression libarchive reads) into a folder,
// in place of the system's archive tool. Every entry must stay inside that folder: absolute
// names, ".." components, hard links, device files and links whose target is absolute or
// climbs with ".." are refused, and nothing is written through a link. Permission bits are
// kept (executables stay executable) without set-user-id, set-group-id or sticky bits.
#include <QString>

namespace vorlik::platform {

struct ArchiveExtractor {
    // `destination` must be an existing folder. Throws ArchiveError naming the first entry it
    // refused or could not write; whatever was written before it stays for the caller to remove.
    // Blocks: run it off the main thread for large archives.
    static void extract(const QString &archivePath, const QString &destination);
};

} // namespace vorlik::platform
