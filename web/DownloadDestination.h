#pragma once
// Where a download is saved: the Downloads folder, under the last path component of the name
// the page suggested ("download" when there is none), numbered "name (1).ext", "name (2).ext"…
// while that name is taken. The chosen file is created (empty) at once, so two downloads that
// start together never get the same name; the engine then writes over it.
#include <QString>

#include <optional>

namespace vorlik::web {

struct DownloadDestination {
    // The path of the file created for the download, or none when the folder cannot be made or
    // written.
    static std::optional<QString> reserve(const QString &folder, const QString &suggestedFileName);

    // "report.pdf" → "report.pdf", "report (1).pdf", …; "notes" → "notes (1)"; n = 0 is the name itself.
    static QString candidate(const QString &name, int n);
    // The last path component of a suggested name; "download" when that is empty.
    static QString fileName(const QString &suggestedFileName);
};

} // namespace vorlik::web
