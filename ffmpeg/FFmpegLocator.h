#pragma once
// Where ffmpeg is, whether a program is a working ffmpeg, and the adoption of a program into the
// application's own tools folder, where it is found first from then on. No state: every
// operation is static and the folder follows platform::AppPaths.
#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace vorlik::ffmpeg {

class FFmpegLocator {
public:
    static constexpr std::chrono::milliseconds versionTimeLimit{10000};

    static QString toolsDir();     // .../Vorlik/FFmpegTools
    static QString managedCopy();  // toolsDir + "/ffmpeg"
    static QString previousCopy(); // toolsDir + "/ffmpeg.previous", only during a swap

    // The fixed places searched before PATH, in order: the managed copy, Homebrew, /usr/local.
    static QStringList fixedCandidates();
    // The first fixed candidate, then PATH, that is an executable file. Nothing is run.
    static std::optional<QString> locatedFFmpeg();
    static std::optional<QString> findInPATH(const QString &name);
    static std::optional<QString> findInPATH(const QString &name, const QString &pathVariable);

    // The first line the program prints for "-version" when it exits with status 0; absent when
    // it fails, prints nothing, prints something that is not UTF-8, cannot be launched or does
    // not end within the time limit (it is then killed and waited for).
    static QCoro::Task<std::optional<QString>> version(QString program,
                                                       std::chrono::milliseconds timeLimit = versionTimeLimit);

    // Copies source into the tools folder as the managed copy, after checking that it runs as
    // ffmpeg; the earlier copy stays in place unless the new one is fully in. Throws
    // AdoptionError (not a working ffmpeg) or FileError.
    static QCoro::Task<QString> adoptBinary(QString source);
    // The last step of an adoption: swaps a staged program in as the managed copy, keeping the
    // earlier copy aside as "ffmpeg.previous" until the swap succeeded and putting it back if it
    // did not. The staging file is gone afterwards either way. Throws FileError.
    static void installStaged(const QString &stagingPath);

    // Same path after standardising, or the same file (device and inode) through links.
    static bool isSameFile(const QString &a, const QString &b);
    // Removes the download quarantine mark where the system has such marks ("/usr/bin/xattr"
    // exists); elsewhere it does nothing. Waits for the tool; ignores every failure.
    static void clearQuarantine(const QString &path, const QString &xattrProgram = QStringLiteral("/usr/bin/xattr"));
    // The first SHA-256 digest (64 or more hex digits) of a checksum file's text, lower case;
    // empty when there is none.
    static QString parseChecksum(const QString &text);

    static bool isExecutableFile(const QString &path);
    static QString trimSpacesAndTabs(const QString &text);
};

} // namespace vorlik::ffmpeg
