#pragma once
// Archives built entry by entry for tests, hostile ones included: names with "..", absolute
// names, links that lead out, hard links, pipes.
#include <QByteArray>
#include <QString>

#include <vector>

namespace vorlik::test {

struct ArchiveEntry {
    enum class Kind { file, folder, symlink, hardlink, fifo };

    Kind kind = Kind::file;
    QByteArray path;
    QByteArray content; // file
    QByteArray target;  // symlink, hardlink
    int mode = 0644;

    static ArchiveEntry file(QByteArray path, QByteArray content, int mode = 0644);
    static ArchiveEntry folder(QByteArray path, int mode = 0755);
    static ArchiveEntry symlink(QByteArray path, QByteArray target);
    static ArchiveEntry hardlink(QByteArray path, QByteArray target);
    static ArchiveEntry fifo(QByteArray path);
};

enum class ArchiveFormat { zip, tarGzip };

// Writes the entries, in order, as they are given (no checks). Throws std::runtime_error.
void writeArchive(const QString &path, ArchiveFormat format, const std::vector<ArchiveEntry> &entries);
QByteArray archiveBytes(ArchiveFormat format, const std::vector<ArchiveEntry> &entries);

} // namespace vorlik::test
