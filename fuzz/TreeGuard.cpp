#include "fuzz/TreeGuard.h"

#include <QCryptographicHash>
#include <QFile>

#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace vorlik::fuzz {
namespace {

fs::path pathOf(const QString &text) { return fs::path(text.toStdString()); }
QString textOf(const fs::path &path) { return QString::fromStdString(path.string()); }

QString describe(const fs::path &path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return QStringLiteral("unreadable");
    // A folder's size, links and time follow its entries, which are recorded themselves.
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("folder mode=%1").arg(info.st_mode, 0, 8);
    QString text = QStringLiteral("mode=%1 size=%2 links=%3 mtime=%4.%5")
                       .arg(info.st_mode, 0, 8)
                       .arg(info.st_size)
                       .arg(info.st_nlink)
                       .arg(info.st_mtim.tv_sec)
                       .arg(info.st_mtim.tv_nsec);
    std::error_code error;
    if (S_ISLNK(info.st_mode)) {
        text += QStringLiteral(" target=") + textOf(fs::read_symlink(path, error));
    } else if (S_ISREG(info.st_mode) && info.st_size < (1 << 20)) {
        QFile file(textOf(path));
        if (file.open(QIODevice::ReadOnly))
            text += QStringLiteral(" sha1=")
                + QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex());
    }
    return text;
}

bool isInside(const fs::path &path, const fs::path &folder)
{
    const auto [end, at] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

} // namespace

TreeSnapshot TreeSnapshot::take(const QString &root, const QString &skip)
{
    TreeSnapshot snapshot;
    const fs::path skipped = skip.isEmpty() ? fs::path() : pathOf(skip);
    snapshot.m_entries.insert(root, describe(pathOf(root)));
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(pathOf(root), fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!skipped.empty() && it->path() == skipped) {
            it.disable_recursion_pending();
            continue;
        }
        snapshot.m_entries.insert(textOf(it->path()), describe(it->path()));
    }
    return snapshot;
}

QString TreeSnapshot::differenceFrom(const TreeSnapshot &earlier) const
{
    for (auto it = earlier.m_entries.cbegin(); it != earlier.m_entries.cend(); ++it) {
        const auto now = m_entries.constFind(it.key());
        if (now == m_entries.cend())
            return QStringLiteral("removed: ") + it.key();
        if (now.value() != it.value())
            return QStringLiteral("changed: ") + it.key() + QStringLiteral(" (") + it.value() + QStringLiteral(" -> ")
                + now.value() + u')';
    }
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        if (!earlier.m_entries.contains(it.key()))
            return QStringLiteral("new: ") + it.key() + QStringLiteral(" (") + it.value() + u')';
    return {};
}

QString containmentProblem(const QString &folderText)
{
    std::error_code error;
    const fs::path folder = fs::canonical(pathOf(folderText), error);
    if (error)
        return QStringLiteral("folder unreadable: ") + folderText;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path &path = it->path();
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            return QStringLiteral("unreadable: ") + textOf(path);
        if (info.st_mode & (S_ISUID | S_ISGID | S_ISVTX))
            return QStringLiteral("special mode bits: ") + textOf(path);
        if (S_ISREG(info.st_mode)) {
            if (info.st_nlink != 1)
                return QStringLiteral("hard link: ") + textOf(path);
        } else if (S_ISLNK(info.st_mode)) {
            const fs::path target = fs::read_symlink(path, error);
            if (error || target.is_absolute())
                return QStringLiteral("link to an absolute path: ") + textOf(path);
            // Where the link leads now (links on the way resolved; a missing rest taken as written).
            std::error_code resolveError;
            const fs::path leads = fs::weakly_canonical(path, resolveError);
            if (!resolveError && !isInside(leads, folder))
                return QStringLiteral("link leads out: ") + textOf(path) + QStringLiteral(" -> ") + textOf(leads);
            if (!isInside((path.parent_path() / target).lexically_normal(), folder))
                return QStringLiteral("link climbs out: ") + textOf(path) + QStringLiteral(" -> ") + textOf(target);
        } else if (!S_ISDIR(info.st_mode)) {
            return QStringLiteral("not a file, folder or link: ") + textOf(path);
        }
    }
    if (error)
        return QStringLiteral("could not walk ") + folderText + QStringLiteral(": ") + QString::fromStdString(error.message());
    return {};
}

void removeTree(const QString &folderText)
{
    const fs::path folder = pathOf(folderText);
    std::error_code error;
    // Folders made read-only must be writable again before their entries can go.
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        if (it->is_directory(error) && !it->is_symlink(error))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(folder, error);
}

} // namespace vorlik::fuzz
