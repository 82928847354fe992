#pragma once
// Archives made from a small text recipe, so that the fuzzer varies entry names, kinds and link
// targets directly instead of bytes that a checksum or a compressor guards. A recipe is one
// format letter ("z" zip, "t" pax tar, "g" GNU tar, "c" cpio, "7" 7-Zip) followed by entries
// separated by NUL bytes; an entry is a kind letter, the name, byte 0x01, then the file's content
// or the link's target. Kinds: f file 0644, x file 0755, s file 06755, d folder 0755,
// r folder 0500, k folder 01777, l symbolic link, h hard link, p pipe, c character device.
#include <QByteArray>

namespace vorlik::fuzz {

struct ArchiveRecipe {
    // The archive's bytes; empty when the writer refused the recipe.
    static QByteArray build(const QByteArray &recipe);
};

} // namespace vorlik::fuzz
