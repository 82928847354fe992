#pragma once
// How this copy of the program was installed, which decides where its resources lie and how it
// is updated:
//   bundle    ".../Vorlik Desktop.app/Contents/MacOS/<program>": resources in the bundle's
//             Contents/Resources; it updates itself by swapping the bundle.
//   packaged  "<prefix>/bin/<program>" as the install target lays it out (the Debian package
//             puts it under /usr): resources in <prefix>/share/vorlik-desktop; the package
//             manager updates it, so it never replaces its own files.
//   loose     anywhere else, such as a build folder: no resources, nothing to update.
// A copy outside a bundle counts as packaged when the install target's mark
// "share/vorlik-desktop/package-managed" sits beside its bin/ folder, or when the user cannot
// write the folder the program is in (someone else installed it). The mark is what tells a
// package's files apart for root, who can write everywhere.
#include <QString>

namespace vorlik::update {

struct Installation {
    enum class Kind { bundle, packaged, loose };

    Kind kind = Kind::loose;
    QString bundle;         // bundle: the "….app" folder
    QString resourceFolder; // bundle: Contents/Resources; packaged: <prefix>/share/vorlik-desktop

    // The installation a program at `program` belongs to (the path as the system resolved it).
    static Installation of(const QString &program);
    // This process's own.
    static Installation current();
    static Installation forBundle(const QString &bundle);

    bool is(Kind wanted) const { return kind == wanted; }
};

} // namespace vorlik::update
