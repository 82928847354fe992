#pragma once
// The application bundle the program runs from: a program at
// ".../Vorlik Desktop.app/Contents/MacOS/<program>" runs from ".../Vorlik Desktop.app".
#include <QString>

#include <optional>

namespace vorlik::update {

struct RunningBundle {
    // The bundle that holds `program`, or none when the program does not sit in a bundle's
    // Contents/MacOS folder (a build folder, a package's /usr/bin).
    static std::optional<QString> containing(const QString &program);
    // The bundle of this process's own program.
    static std::optional<QString> current();
    // The program a bundle starts: its Info.plist's CFBundleExecutable when that is a plain
    // file name, else empty.
    static QString executableName(const QString &bundle);
};

} // namespace vorlik::update
