#include "fuzz/ArchiveRecipe.h"

#include <QList>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace vorlik::fuzz {
namespace {

la_ssize_t append(archive *, void *target, const void *buffer, size_t length)
{
    static_cast<QByteArray *>(target)->append(static_cast<const char *>(buffer), qsizetype(length));
    return la_ssize_t(length);
}

int setFormat(archive *writer, char letter)
{
    switch (letter) {
    case 'z': return archive_write_set_format_zip(writer);
    case 'g': return archive_write_set_format_gnutar(writer);
    case 'c': return archive_write_set_format_cpio_newc(writer);
    case '7': return archive_write_set_format_7zip(writer);
    default: return archive_write_set_format_pax_restricted(writer);
    }
}

} // namespace

QByteArray ArchiveRecipe::build(const QByteArray &recipe)
{
    if (recipe.isEmpty())
        return {};
    QByteArray out;
    std::unique_ptr<archive, decltype(&archive_write_free)> writer(archive_write_new(), archive_write_free);
    if (setFormat(writer.get(), recipe.front()) != ARCHIVE_OK)
        return {};
    archive_write_set_bytes_in_last_block(writer.get(), 1);
    if (archive_write_open2(writer.get(), &out, nullptr, append, nullptr, nullptr) != ARCHIVE_OK)
        return {};

    const QList<QByteArray> entries = recipe.mid(1).split('\0');
    for (const QByteArray &spec : entries) {
        if (spec.size() < 2)
            continue;
        const char kind = spec.front();
        const qsizetype split = spec.indexOf('\x01');
        const QByteArray name = split < 0 ? spec.mid(1) : spec.mid(1, split - 1);
        const QByteArray payload = split < 0 ? QByteArray() : spec.mid(split + 1);
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), name.constData());
        archive_entry_set_mtime(entry.get(), 1700000000, 0);
        bool withData = false;
        switch (kind) {
        case 'x': archive_entry_set_filetype(entry.get(), AE_IFREG); archive_entry_set_perm(entry.get(), 0755); withData = true; break;
        case 's': archive_entry_set_filetype(entry.get(), AE_IFREG); archive_entry_set_perm(entry.get(), 06755); withData = true; break;
        case 'd': archive_entry_set_filetype(entry.get(), AE_IFDIR); archive_entry_set_perm(entry.get(), 0755); break;
        case 'r': archive_entry_set_filetype(entry.get(), AE_IFDIR); archive_entry_set_perm(entry.get(), 0500); break;
        case 'k': archive_entry_set_filetype(entry.get(), AE_IFDIR); archive_entry_set_perm(entry.get(), 01777); break;
        case 'l':
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_perm(entry.get(), 0777);
            archive_entry_set_symlink(entry.get(), payload.constData());
            break;
        case 'h':
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), 0644);
            archive_entry_set_hardlink(entry.get(), payload.constData());
            break;
        case 'p': archive_entry_set_filetype(entry.get(), AE_IFIFO); archive_entry_set_perm(entry.get(), 0644); break;
        case 'c':
            archive_entry_set_filetype(entry.get(), AE_IFCHR);
            archive_entry_set_perm(entry.get(), 0644);
            archive_entry_set_rdev(entry.get(), 0x0103); // the null device's numbers
            break;
        default: archive_entry_set_filetype(entry.get(), AE_IFREG); archive_entry_set_perm(entry.get(), 0644); withData = true; break;
        }
        if (withData)
            archive_entry_set_size(entry.get(), payload.size());
        if (archive_write_header(writer.get(), entry.get()) < ARCHIVE_WARN)
            continue; // a name or kind this format cannot hold
        if (withData && !payload.isEmpty())
            archive_write_data(writer.get(), payload.constData(), size_t(payload.size()));
        archive_write_finish_entry(writer.get());
    }
    if (archive_write_close(writer.get()) < ARCHIVE_WARN)
        return {};
    return out;
}

} // namespace vorlik::fuzz
