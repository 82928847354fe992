#include "update/FileTree.h"

#include "platform/FileError.h"

#include <QFile>

#include <algorithm>
#include <filesystem>
#include <vector>

namespace vorlik::update {
namespace fs = std::filesystem;

namespace {

fs::path fsPath(const QString &path) { return fs::path(QFile::encodeName(path).toStdString()); }
QString qtPath(const fs::path &path) { return QFile::decodeName(QByteArray::fromStdString(path.native())); }

[[noreturn]] void fail(const QString &action, const fs::path &path, std::error_code error)
{
    throw platform::FileError(action, qtPath(path), error);
}

std::vector<fs::path> sortedChildren(const fs::path &folder)
{
    std::error_code error;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        children.push_back(it->path());
    if (error)
        fail(QStringLiteral("Could not list"), folder, error);
    std::sort(children.begin(), children.end());
    return children;
}

void copyEntry(const fs::path &from, const fs::path &to)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(from, error);
    if (error)
        fail(QStringLiteral("Could not read"), from, error);
    constexpr fs::perms ownerWrites = fs::perms::owner_read | fs::perms::owner_write;

    switch (status.type()) {
    case fs::file_type::symlink: {
        const fs::path target = fs::read_symlink(from, error);
        if (!error)
            fs::create_symlink(target, to, error);
        if (error)
            fail(QStringLiteral("Could not copy the link"), from, error);
        return;
    }
    case fs::file_type::directory:
        fs::create_directory(to, error);
        if (error)
            fail(QStringLiteral("Could not create the folder"), to, error);
        for (const fs::path &child : sortedChildren(from))
            copyEntry(child, to / child.filename());
        fs::permissions(to, (status.permissions() & fs::perms::mask) | ownerWrites | fs::perms::owner_exec,
                        fs::perm_options::replace, error);
        if (error)
            fail(QStringLiteral("Could not set the permissions of"), to, error);
        return;
    case fs::file_type::regular:
        fs::copy_file(from, to, fs::copy_options::none, error);
        if (error)
            fail(QStringLiteral("Could not copy"), from, error);
        fs::permissions(to, (status.permissions() & fs::perms::mask) | ownerWrites, fs::perm_options::replace, error);
        if (error)
            fail(QStringLiteral("Could not set the permissions of"), to, error);
        return;
    default:
        fail(QStringLiteral("Could not copy"), from, std::make_error_code(std::errc::not_supported));
    }
}

void makeFoldersWritable(const fs::path &path)
{
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(path, error)))
        return;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
        makeFoldersWritable(it->path());
}

void takeWritesAway(const fs::path &path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (error || status.type() == fs::file_type::symlink)
        return;
    if (status.type() == fs::file_type::directory)
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            takeWritesAway(it->path());
    // A folder loses its own write bit last, after its entries were changed.
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, error);
}

} // namespace

void FileTree::copy(const QString &from, const QString &to)
{
    std::error_code error;
    if (fs::exists(fs::symlink_status(fsPath(to), error)))
        fail(QStringLiteral("Could not copy to"), fsPath(to), std::make_error_code(std::errc::file_exists));
    copyEntry(fsPath(from), fsPath(to));
}

bool FileTree::remove(const QString &path)
{
    const fs::path target = fsPath(path);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(target, error)))
        return true;
    makeFoldersWritable(target);
    fs::remove_all(target, error);
    return !fs::exists(fs::symlink_status(target, error));
}

void FileTree::makeReadOnly(const QString &path) { takeWritesAway(fsPath(path)); }

} // namespace vorlik::update
