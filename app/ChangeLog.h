#pragma once
// The release notes shipped with the program: "CHANGELOG.md" in the bundle's Contents/Resources
// (the program runs from "Vorlik Desktop.app/Contents/MacOS"), or in share/vorlik-desktop of
// an installed copy (the program runs from bin/).
#include <QString>

#include <optional>

namespace vorlik::app {

struct ChangeLog {
    static QString missingText(); // "CHANGELOG.md is not bundled with this build."

    // The file as UTF-8 text, unchanged (Markdown is shown as plain text); missingText() when
    // the program has no resource folder, the file is missing or it is not UTF-8.
    static QString loadChangeLog();
    // The same for a given resource folder (none: the program has no bundle).
    static QString loadChangeLog(const std::optional<QString> &resourceFolder);
    // The running bundle's Contents/Resources, an installed copy's share/vorlik-desktop, or
    // none (a build folder).
    static std::optional<QString> resourceFolder();
};

} // namespace vorlik::app
