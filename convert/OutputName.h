#pragma once
// Where a conversion's result goes: the free output name beside the others ("Take 1_norm.wav",
// then "Take 1_norm (1).wav", ...), the temporary base the script writes to, and the final move,
// which never replaces anything already there: a name taken since it was chosen gives way to
// the next free one.
#include <QSet>
#include <QString>

#include <system_error>

namespace vorlik::convert {

struct OutputName {
    // The file name without its last extension: "archive.tar.gz" gives "archive.tar". A leading
    // dot does not start an extension.
    static QString stem(const QString &fileName);
    // folder/base+ext if nothing is there (not even a dangling link), otherwise
    // folder/base (n)+ext for the first n = 1, 2, 3, ... that is free. ext carries its own dot.
    // A name in `reserved` (chosen by a conversion still running) is not free either.
    static QString firstFree(const QString &folder, const QString &base, const QString &outputExt,
                             const QSet<QString> &reserved = {});
    // folder/.vorlik-tmp-UUID-stem, the UUID in upper case: unique, and hidden from browsers.
    static QString temporaryBase(const QString &folder, const QString &stem);

    // Moves `from` to `preferred`, or, when that name has been taken meanwhile, to the next free
    // name of the same series. Returns the path used. Throws platform::FileError.
    static QString moveIntoPlace(const QString &from, const QString &preferred, const QString &folder,
                                 const QString &base, const QString &outputExt, const QSet<QString> &reserved = {});
    // A rename that fails with EEXIST instead of replacing an entry at `to`.
    static std::error_code moveWithoutReplacing(const QString &from, const QString &to);
    // Something (a file, folder or link, dangling or not) is at path.
    static bool entryExists(const QString &path);
};

} // namespace vorlik::convert
