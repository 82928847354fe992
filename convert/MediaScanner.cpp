#include "convert/MediaScanner.h"

#include "convert/NameCollator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <string_view>
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

bool hasExtension(QStringView name, const QSet<QString> &extensions)
{
    const QString extension = MediaScanner::lastExtension(name);
    return !extension.isEmpty() && extensions.contains(extension);
}

// The same test on a name as the file system spells it, without building the name first: the
// walk meets every file, most of which have short ASCII extensions.
bool hasExtension(std::string_view name, const QSet<QString> &extensions)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
        return false;
    const std::string_view extension = name.substr(dot + 1);
    thread_local QString lowered;
    lowered.resize(qsizetype(extension.size()));
    for (size_t i = 0; i < extension.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(extension[i]);
        if (c >= 0x80) // beyond ASCII: the careful way
            return hasExtension(QStringView(QFile::decodeName(QByteArray(name.data(), qsizetype(name.size())))), extensions);
        lowered[qsizetype(i)] = QLatin1Char(char(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c));
    }
    return extensions.contains(lowered);
}

// Without a set of seen paths the caller knows that nothing can repeat (one folder's walk never
// meets a path twice: links to folders are not followed).
void appendIfNew(QString path, QStringList &result, QSet<QString> *seen)
{
    if (seen) {
        const qsizetype before = seen->size();
        seen->insert(path);
        if (seen->size() == before)
            return;
    }
    result.append(std::move(path));
}

enum class Kind { missing, file, folder, folderLink };

// One existence and folder test per entry; the directory's own type field usually answers it.
Kind kindOf(unsigned char type, const QByteArray &path)
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

// A folder's visible entries, their names side by side in one buffer, in byte order.
struct Folder {
    QString path;
    QByteArray encodedPath;
    std::string names;
    struct Entry {
        size_t offset;
        size_t length;
        unsigned char type;
    };
    std::vector<Entry> entries;
    size_t next = 0;

    std::string_view name(const Entry &entry) const { return std::string_view(names).substr(entry.offset, entry.length); }

    bool read()
    {
        DIR *dir = ::opendir(encodedPath.constData());
        if (!dir)
            return false;
        while (const dirent *entry = ::readdir(dir)) {
            // Hidden entries (".", "..", ".DS_Store" and "._" files among them) are passed over.
            if (entry->d_name[0] == '.')
                continue;
            const size_t length = std::strlen(entry->d_name);
            entries.push_back(Entry{names.size(), length, entry->d_type});
            names.append(entry->d_name, length);
        }
        ::closedir(dir);
        // A fixed order, so that equal names from different folders keep a predictable order.
        std::sort(entries.begin(), entries.end(), [this](const Entry &a, const Entry &b) { return name(a) < name(b); });
        return true;
    }
};

} // namespace

void MediaScanner::walk(const QString &folder, QStringList &result, QSet<QString> &seen,
                        const QSet<QString> &extensions)
{
    walkInto(folder, result, &seen, extensions);
}

void MediaScanner::walkInto(const QString &folder, QStringList &result, QSet<QString> *seen,
                            const QSet<QString> &extensions)
{
    static constexpr std::string_view macResourceFolder = "__MACOSX";
    const QString root = normalisedPath(folder);
    // Every entry below a "__MACOSX" folder has it among its path components.
    if (root.split(u'/', Qt::SkipEmptyParts).contains(QLatin1String(macResourceFolder.data(), macResourceFolder.size())))
        return;

    QStringDecoder decoder(QStringDecoder::Utf8);
    std::vector<Folder> stack;
    auto enter = [&stack](QString path, QByteArray encoded) {
        Folder entered{std::move(path), std::move(encoded), {}, {}, 0};
        if (entered.read()) // an unreadable folder is passed over
            stack.push_back(std::move(entered));
    };
    enter(root, QFile::encodeName(root));

    // Depth first, each folder's entries in order, a sub-folder's contents where it stands.
    while (!stack.empty()) {
        Folder &current = stack.back();
        if (current.next == current.entries.size()) {
            stack.pop_back();
            continue;
        }
        const Folder::Entry entry = current.entries[current.next++];
        const std::string_view name = current.name(entry);
        if (name == macResourceFolder)
            continue;
        const bool atRoot = current.path.endsWith(u'/');
        // The full encoded path only where the entry's type needs a look at the file system.
        const auto encodedPath = [&] {
            QByteArray encoded = current.encodedPath;
            if (!atRoot)
                encoded += '/';
            encoded.append(name.data(), qsizetype(name.size()));
            return encoded;
        };
        // Decoded straight into the path: one allocation per file.
        const auto pathOf = [&] {
            QString path(current.path.size() + 1 + qsizetype(name.size()), Qt::Uninitialized);
            QChar *out = std::copy(current.path.cbegin(), current.path.cend(), path.data());
            if (!atRoot)
                *out++ = u'/';
            decoder.resetState();
            out = decoder.appendToBuffer(out, QByteArrayView(name.data(), qsizetype(name.size())));
            path.truncate(out - path.constData());
            return path;
        };

        const bool needsLook = entry.type != DT_DIR && entry.type != DT_REG;
        switch (kindOf(entry.type, needsLook ? encodedPath() : QByteArray())) {
        case Kind::missing:
        case Kind::folderLink: // not followed: a link back up would never end
            break;
        case Kind::file:
            if (hasExtension(name, extensions))
                appendIfNew(pathOf(), result, seen);
            break;
        case Kind::folder: {
            const QString folderName = QFile::decodeName(QByteArray::fromRawData(name.data(), qsizetype(name.size())));
            if (!packageExtensions().contains(lastExtension(folderName)))
                enter(pathOf(), encodedPath()); // invalidates current
            break;
        }
        }
    }
}

QStringList MediaScanner::collect(const QStringList &paths, const QSet<QString> &extensions)
{
    QStringList result;
    QSet<QString> seen;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString path = normalisedPath(paths.at(i));
        if (path.isEmpty())
            continue;
        if (isFolder(path)) {
            // A lone folder cannot repeat a path: its walk skips the bookkeeping of seen paths.
            const bool alone = result.isEmpty() && i == paths.size() - 1;
            walkInto(path, result, alone ? nullptr : &seen, extensions);
        } else if (hasExtension(QStringView(fileNameOf(path)), extensions)) {
            appendIfNew(path, result, &seen);
        }
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
    std::vector<QStringView> names;
    names.reserve(size_t(paths.size()));
    for (const QString &path : std::as_const(paths)) {
        const qsizetype slash = path.lastIndexOf(u'/');
        names.push_back(QStringView(path).sliced(slash + 1));
    }
    const std::vector<size_t> order = NameCollator().stableOrder(names);
    QStringList sorted;
    sorted.reserve(paths.size());
    for (const size_t index : order)
        sorted.append(paths.at(qsizetype(index)));
    paths = std::move(sorted);
}

} // namespace vorlik::convert
