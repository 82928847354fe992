#include "convert/MediaScanner.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace vorlik::convert {

const QSet<QString> &MediaScanner::mediaExtensions()
{
    static const QSet<QString> set{
        QStringLiteral("mov"), QStringLiteral("mp4"), QStringLiteral("m4v"),  QStringLiteral("mkv"),
        QStringLiteral("avi"), QStringLiteral("mxf"), QStringLiteral("ts"),   QStringLiteral("webm"),
        QStringLiteral("m4a"), QStringLiteral("wav"), QStringLiteral("aif"),  QStringLiteral("aiff"),
        QStringLiteral("mp3"), QStringLiteral("flac"), QStringLiteral("caf"),
    };
    return set;
}

const QSet<QString> &MediaScanner::audioExtensions()
{
    static const QSet<QString> set{
        QStringLiteral("wav"), QStringLiteral("aif"),  QStringLiteral("aiff"), QStringLiteral("flac"),
        QStringLiteral("mp3"), QStringLiteral("m4a"),  QStringLiteral("aac"),  QStringLiteral("ogg"),
        QStringLiteral("oga"), QStringLiteral("opus"), QStringLiteral("wma"),  QStringLiteral("caf"),
        QStringLiteral("au"),  QStringLiteral("mp2"),  QStringLiteral("ac3"),  QStringLiteral("w64"),
        QStringLiteral("amb"), QStringLiteral("m4r"),
    };
    return set;
}

const QSet<QString> &MediaScanner::packageExtensions()
{
    // Folders that a Mac shows as single documents or programs; media libraries copied from a
    // Mac keep their extensions, and their insides are the library's own business.
    static const QSet<QString> set{
        QStringLiteral("app"),          QStringLiteral("bundle"),        QStringLiteral("framework"),
        QStringLiteral("plugin"),       QStringLiteral("kext"),          QStringLiteral("component"),
        QStringLiteral("vst"),          QStringLiteral("vst3"),          QStringLiteral("aaxplugin"),
        QStringLiteral("fcpbundle"),    QStringLiteral("fcpxmld"),       QStringLiteral("fcpxbundle"),
        QStringLiteral("photoslibrary"), QStringLiteral("imovielibrary"), QStringLiteral("tvlibrary"),
        QStringLiteral("musiclibrary"), QStringLiteral("aplibrary"),     QStringLiteral("theater"),
        QStringLiteral("logicx"),       QStringLiteral("band"),          QStringLiteral("rtfd"),
        QStringLiteral("pkg"),          QStringLiteral("mpkg"),          QStringLiteral("xcodeproj"),
        QStringLiteral("xcworkspace"),  QStringLiteral("playground"),    QStringLiteral("motn"),
        QStringLiteral("moef"),         QStringLiteral("moti"),          QStringLiteral("motr"),
    };
    return set;
}

QString MediaScanner::lastExtension(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    // A leading dot starts a hidden name, not an extension.
    if (dot <= 0 || dot == fileName.size() - 1)
        return {};
    return fileName.sliced(dot + 1).toString().toLower();
}

namespace {

QString normalisedPath(const QString &path)
{
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString fileNameOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.sliced(slash + 1);
}

bool isFolder(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

void appendIfMatching(const QString &path, QStringView name, QStringList &result, QSet<QString> &seen,
                      const QSet<QString> &extensions)
{
    const QString extension = MediaScanner::lastExtension(name);
    if (extension.isEmpty() || !extensions.contains(extension))
        return;
    if (seen.contains(path))
        return;
    seen.insert(path);
    result.append(path);
}

enum class Kind { missing, file, folder, folderLink };

struct Entry {
    QByteArray name;
    unsigned char type;
};

// One existence and folder test per entry; the directory's own type field usually answers it.
Kind kindOf(const QByteArray &path, unsigned char type)
{
    if (type == DT_DIR)
        return Kind::folder;
    if (type == DT_REG)
        return Kind::file;
    struct stat info {};
    if (type == DT_UNKNOWN) {
        if (::lstat(path.constData(), &info) != 0)
            return Kind::missing;
        if (S_ISDIR(info.st_mode))
            return Kind::folder;
        if (!S_ISLNK(info.st_mode))
            return Kind::file;
    }
    // A link (or an entry of unknown kind that is one): what it points to decides.
    if (::stat(path.constData(), &info) != 0)
        return Kind::missing;
    return S_ISDIR(info.st_mode) ? Kind::folderLink : Kind::file;
}

bool readFolder(const QByteArray &path, std::vector<Entry> &entries)
{
    DIR *dir = ::opendir(path.constData());
    if (!dir)
        return false;
    while (const dirent *entry = ::readdir(dir)) {
        // Hidden entries (".", "..", ".DS_Store" and "._" files among them) are passed over.
        if (entry->d_name[0] == '.')
            continue;
        entries.push_back(Entry{QByteArray(entry->d_name), entry->d_type});
    }
    ::closedir(dir);
    // A fixed order, so that equal names from different folders keep a predictable order.
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });
    return true;
}

} // namespace

void MediaScanner::walk(const QString &folder, QStringList &result, QSet<QString> &seen,
                        const QSet<QString> &extensions)
{
    static const QString macResourceFolder = QStringLiteral("__MACOSX");
    const QString root = normalisedPath(folder);
    // Every entry below a "__MACOSX" folder has it among its path components.
    if (root.split(u'/', Qt::SkipEmptyParts).contains(macResourceFolder))
        return;

    struct Frame {
        QString path;
        QByteArray encodedPath;
        std::vector<Entry> entries;
        size_t next = 0;
    };
    std::vector<Frame> stack;
    auto enter = [&stack](const QString &path, const QByteArray &encoded) {
        Frame frame{path, encoded, {}, 0};
        if (readFolder(encoded, frame.entries)) // an unreadable folder is passed over
            stack.push_back(std::move(frame));
    };
    enter(root, QFile::encodeName(root));

    // Depth first, each folder's entries in order, a sub-folder's contents where it stands.
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.next == frame.entries.size()) {
            stack.pop_back();
            continue;
        }
        const Entry &entry = frame.entries[frame.next++];
        const QString name = QFile::decodeName(entry.name);
        if (name == macResourceFolder)
            continue;
        const bool atRoot = frame.path.endsWith(u'/');
        const QString path = atRoot ? frame.path + name : frame.path + u'/' + name;
        QByteArray encoded = frame.encodedPath;
        if (!atRoot)
            encoded += '/';
        encoded += entry.name;

        switch (kindOf(encoded, entry.type)) {
        case Kind::missing:
        case Kind::folderLink: // not followed: a link back up would never end
            break;
        case Kind::file:
            appendIfMatching(path, name, result, seen, extensions);
            break;
        case Kind::folder:
            if (!packageExtensions().contains(lastExtension(name)))
                enter(path, encoded); // invalidates frame
            break;
        }
    }
}

QStringList MediaScanner::collect(const QStringList &paths, const QSet<QString> &extensions)
{
    QStringList result;
    QSet<QString> seen;
    for (const QString &given : paths) {
        const QString path = normalisedPath(given);
        if (path.isEmpty())
            continue;
        if (isFolder(path))
            walk(path, result, seen, extensions);
        else
            appendIfMatching(path, fileNameOf(path), result, seen, extensions);
    }
    sortByName(result);
    return result;
}

QList<QUrl> MediaScanner::collect(const QList<QUrl> &urls, const QSet<QString> &extensions)
{
    QStringList paths;
    paths.reserve(urls.size());
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    QList<QUrl> result;
    for (const QString &path : collect(paths, extensions))
        result.append(QUrl::fromLocalFile(path));
    return result;
}

void MediaScanner::sortByName(QStringList &paths)
{
    if (paths.size() < 2)
        return;
    // The user's collation; the C locale has none (and would ignore numeric mode), so it
    // falls back to the language-neutral English one.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);

    // One sort key per name, then cheap key comparisons.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(paths.size()));
    for (const QString &path : std::as_const(paths))
        keys.push_back(collator.sortKey(fileNameOf(path)));
    std::vector<qsizetype> order(size_t(paths.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&keys](qsizetype a, qsizetype b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    QStringList sorted;
    sorted.reserve(paths.size());
    for (const qsizetype index : order)
        sorted.append(paths.at(index));
    paths = std::move(sorted);
}

} // namespace vorlik::convert
