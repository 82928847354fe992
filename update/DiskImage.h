#pragma once
// The update image on this platform: an archive holding "Vorlik Desktop.app". Attaching it
// unpacks it, with the same refusal of entries that would land outside, into a private
// temporary folder whose contents are then made read-only; detaching removes that folder.
#include <QString>

#include <optional>

namespace vorlik::update {

struct DiskImage {
    // The folder the image was unpacked into, or none when it could not be read or held an
    // entry that was refused (nothing is left behind then).
    static std::optional<QString> attach(const QString &imagePath, QString *problem = nullptr);
    // True when the folder is gone.
    static bool detach(const QString &mountPoint);
};

} // namespace vorlik::update
