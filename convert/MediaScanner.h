#pragma once
// Turns dropped or chosen files and folders into one flat list of media files with an extension
// from a given set, ordered by name the way file browsers order them (case-insensitive, numbers
// by value: "Take 2" before "Take 10"). Folders are walked to any depth; hidden entries,
// resource-fork files ("._*", ".DS_Store"), "__MACOSX" folders and the contents of packages are
// passed over; symbolic links to folders are not followed, so link loops cannot trap the walk.
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace vorlik::convert {

class MediaScanner {
public:
    // Lower case, without the dot.
    static const QSet<QString> &mediaExtensions(); // what ffmpeg conversions accept (15)
    static const QSet<QString> &audioExtensions(); // what the analysis accepts (18)
    // Folder extensions that mark a package: a folder that acts as one document or program.
    static const QSet<QString> &packageExtensions();

    static QStringList collect(const QStringList &paths, const QSet<QString> &extensions);
    static QList<QUrl> collect(const QList<QUrl> &urls, const QSet<QString> &extensions);

    // Appends the matching files below folder to result (paths not yet in seen).
    static void walk(const QString &folder, QStringList &result, QSet<QString> &seen,
                     const QSet<QString> &extensions);

    // The file-browser ordering of collect, stable for equal names.
    static void sortByName(QStringList &paths);
    // The lower-cased last extension of a file name, empty when there is none.
    static QString lastExtension(QStringView fileName);

private:
    // The walk itself; without `seen` (nullptr) paths are not checked for repeats.
    static void walkInto(const QString &folder, QStringList &result, QSet<QString> *seen,
                         const QSet<QString> &extensions);
};

} // namespace vorlik::convert
