#include "platform/ArchiveExtractor.h"

#include "platform/ArchiveError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace vorlik::platform {
namespace {

struct ReadCloser {
    void operator()(archive *reader) const { archive_read_free(reader); }
};
struct WriteCloser {
    void operator()(archive *writer) const { archive_write_free(writer); }
};

QString entryName(const QByteArray &raw) { return QString::fromLocal8Bit(raw); }

QString libraryMessage(archive *handle)
{
    const char *text = archive_error_string(handle);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
}

// True when a '/'-separated relative path has a ".." component.
bool climbs(const QByteArray &path)
{
    for (const QByteArray &piece : path.split('/'))
        if (piece == "..")
            return true;
    return false;
}

// Why an entry may not be unpacked, or empty when it may. Where a link made of plain
// downward steps leads never depends on other links, so such links cannot lead out; a ".."
// could, through a link met on the way, so links with ".." are refused outright.
QString refusal(archive_entry *entry, const QByteArray &name)
{
    if (name.isEmpty())
        return QStringLiteral("an entry without a name");
    if (name.startsWith('/'))
        return QStringLiteral("an absolute path");
    if (climbs(name))
        return QStringLiteral("a \"..\" component");
    if (archive_entry_hardlink(entry))
        return QStringLiteral("a hard link");
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
    case AE_IFDIR:
        return {};
    case AE_IFLNK: {
        const char *target = archive_entry_symlink(entry);
        const QByteArray to = target ? QByteArray(target) : QByteArray();
        if (to.isEmpty() || to.startsWith('/') || climbs(to))
            return QStringLiteral("a link that leads out of the folder");
        return {};
    }
    default:
        return QStringLiteral("a device, pipe or socket");
    }
}

void copyData(archive *reader, archive *writer, const QString &name)
{
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int read = archive_read_data_block(reader, &block, &size, &offset);
        if (read == ARCHIVE_EOF)
            return;
        if (read < ARCHIVE_WARN)
            throw ArchiveError(QStringLiteral("Could not read ") + name + QStringLiteral(" from the archive: ")
                               + libraryMessage(reader));
        if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN)
            throw ArchiveError(QStringLiteral("Could not write ") + name + QStringLiteral(": ") + libraryMessage(writer));
    }
}

} // namespace

void ArchiveExtractor::extract(const QString &archivePath, const QString &destination)
{
    // Links on the way to the folder itself would trip the no-writing-through-links check.
    const QString folder = QFileInfo(destination).canonicalFilePath();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        throw ArchiveError(QStringLiteral("No folder to unpack into: ") + destination);
    const QByteArray prefix = QFile::encodeName(folder) + '/';

    std::unique_ptr<archive, ReadCloser> reader(archive_read_new());
    archive_read_support_format_all(reader.get());
    archive_read_support_filter_all(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(), 1 << 16) != ARCHIVE_OK)
        throw ArchiveError(QStringLiteral("Could not open the archive ") + archivePath + QStringLiteral(": ")
                           + libraryMessage(reader.get()));

    std::unique_ptr<archive, WriteCloser> writer(archive_write_disk_new());
    // Absolute-path refusal is done here on the entry's own name: the path handed to the
    // writer is the absolute one inside `folder`.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME
                                                     | ARCHIVE_EXTRACT_SECURE_SYMLINKS
                                                     | ARCHIVE_EXTRACT_SECURE_NODOTDOT
                                                     | ARCHIVE_EXTRACT_NO_OVERWRITE);

    for (;;) {
        archive_entry *entry = nullptr;
        const int next = archive_read_next_header(reader.get(), &entry);
        if (next == ARCHIVE_EOF)
            break;
        if (next < ARCHIVE_WARN)
            throw ArchiveError(QStringLiteral("The archive is damaged: ") + libraryMessage(reader.get()));

        const char *rawName = archive_entry_pathname(entry);
        const QByteArray name = rawName ? QByteArray(rawName) : QByteArray();
        const QString shown = entryName(name);
        if (const QString why = refusal(entry, name); !why.isEmpty())
            throw ArchiveError(QStringLiteral("Refused the archive entry \"") + shown + QStringLiteral("\": ") + why + u'.');

        archive_entry_set_pathname(entry, (prefix + name).constData());
        const bool isFolder = archive_entry_filetype(entry) == AE_IFDIR;
        // The owner can always read (and, for folders, enter and fill) what is unpacked.
        archive_entry_set_perm(entry, (archive_entry_perm(entry) & 0777) | (isFolder ? 0700 : 0400));

        if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
            throw ArchiveError(QStringLiteral("Could not unpack \"") + shown + QStringLiteral("\": ")
                               + libraryMessage(writer.get()));
        if (!isFolder && archive_entry_filetype(entry) == AE_IFREG)
            copyData(reader.get(), writer.get(), shown);
        if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
            throw ArchiveError(QStringLiteral("Could not finish \"") + shown + QStringLiteral("\": ")
                               + libraryMessage(writer.get()));
    }
    if (archive_write_close(writer.get()) < ARCHIVE_WARN)
        throw ArchiveError(QStringLiteral("Could not finish unpacking: ") + libraryMessage(writer.get()));
}

} // namespace vorlik::platform
