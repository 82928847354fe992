#include "tests/support/TestArchive.h"

#include "tests/support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <memory>
#include <stdexcept>

namespace vorlik::test {

using Kind = ArchiveEntry::Kind;

ArchiveEntry ArchiveEntry::file(QByteArray path, QByteArray content, int mode) { return {Kind::file, path, content, {}, mode}; }
ArchiveEntry ArchiveEntry::folder(QByteArray path, int mode) { return {Kind::folder, path, {}, {}, mode}; }
ArchiveEntry ArchiveEntry::symlink(QByteArray path, QByteArray target) { return {Kind::symlink, path, {}, target, 0777}; }
ArchiveEntry ArchiveEntry::hardlink(QByteArray path, QByteArray target) { return {Kind::hardlink, path, {}, target, 0644}; }
ArchiveEntry ArchiveEntry::fifo(QByteArray path) { return {Kind::fifo, path, {}, {}, 0644}; }

void writeArchive(const QString &path, ArchiveFormat format, const std::vector<ArchiveEntry> &entries)
{
    std::unique_ptr<archive, int (*)(archive *)> writer(archive_write_new(), archive_write_free);
    if (format == ArchiveFormat::zip) {
        archive_write_set_format_zip(writer.get());
    } else {
        archive_write_set_format_pax_restricted(writer.get());
        archive_write_add_filter_gzip(writer.get());
    }
    if (archive_write_open_filename(writer.get(), QFile::encodeName(path).constData()) != ARCHIVE_OK)
        throw std::runtime_error(std::string("cannot write archive: ") + archive_error_string(writer.get()));
    for (const ArchiveEntry &item : entries) {
        std::unique_ptr<archive_entry, void (*)(archive_entry *)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), item.path.constData());
        archive_entry_set_perm(entry.get(), item.mode);
        archive_entry_set_mtime(entry.get(), 1700000000, 0);
        // A hard link is a regular entry that names its target instead of carrying content.
        archive_entry_set_filetype(entry.get(), item.kind == Kind::folder    ? AE_IFDIR
                                                : item.kind == Kind::symlink ? AE_IFLNK
                                                : item.kind == Kind::fifo    ? AE_IFIFO
                                                                             : AE_IFREG);
        if (item.kind == Kind::file)
            archive_entry_set_size(entry.get(), item.content.size());
        if (item.kind == Kind::symlink)
            archive_entry_set_symlink(entry.get(), item.target.constData());
        if (item.kind == Kind::hardlink)
            archive_entry_set_hardlink(entry.get(), item.target.constData());
        if (archive_write_header(writer.get(), entry.get()) < ARCHIVE_WARN)
            throw std::runtime_error(std::string("cannot add entry: ") + archive_error_string(writer.get()));
        if (item.kind == Kind::file && !item.content.isEmpty()
            && archive_write_data(writer.get(), item.content.constData(), size_t(item.content.size())) < 0)
            throw std::runtime_error(std::string("cannot write entry: ") + archive_error_string(writer.get()));
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        throw std::runtime_error(std::string("cannot finish archive: ") + archive_error_string(writer.get()));
}

QByteArray archiveBytes(ArchiveFormat format, const std::vector<ArchiveEntry> &entries)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("archive"));
    writeArchive(path, format, entries);
    return readFile(path);
}

} // namespace vorlik::test
