#include "ffmpeg/FFmpegLocator.h"

#include "platform/ProcessAwaiter.h"
#include "ffmpeg/AdoptionError.h"
#include "ffmpeg/FileError.h"
#include "platform/AppPaths.h"

#include <QCoroFuture>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <QTimer>
#include <QUuid>
#include <QtConcurrent>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace vorlik::ffmpeg {
namespace fs = std::filesystem;

namespace {

fs::path fsPath(const QString &path) { return fs::path(QFile::encodeName(path).toStdString()); }

void removeQuietly(const QString &path)
{
    std::error_code ignored;
    fs::remove(fsPath(path), ignored);
}

} // namespace

QString FFmpegLocator::toolsDir() { return platform::AppPaths::ffmpegTools(); }
QString FFmpegLocator::managedCopy() { return toolsDir() + QStringLiteral("/ffmpeg"); }
QString FFmpegLocator::previousCopy() { return toolsDir() + QStringLiteral("/ffmpeg.previous"); }

QStringList FFmpegLocator::fixedCandidates()
{
    return {managedCopy(), QStringLiteral("/opt/homebrew/bin/ffmpeg"), QStringLiteral("/usr/local/bin/ffmpeg")};
}

bool FFmpegLocator::isExecutableFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info {};
    return ::stat(encoded.constData(), &info) == 0 && S_ISREG(info.st_mode) && ::access(encoded.constData(), X_OK) == 0;
}

QString FFmpegLocator::trimSpacesAndTabs(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && (text[start] == u' ' || text[start] == u'\t'))
        ++start;
    while (end > start && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.sliced(start, end - start);
}

std::optional<QString> FFmpegLocator::locatedFFmpeg()
{
    for (const QString &candidate : fixedCandidates()) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    return findInPATH(QStringLiteral("ffmpeg"));
}

std::optional<QString> FFmpegLocator::findInPATH(const QString &name)
{
    if (!qEnvironmentVariableIsSet("PATH"))
        return std::nullopt;
    return findInPATH(name, qEnvironmentVariable("PATH"));
}

std::optional<QString> FFmpegLocator::findInPATH(const QString &name, const QString &pathVariable)
{
    const QStringList folders = pathVariable.split(u':', Qt::SkipEmptyParts);
    for (const QString &folder : folders) {
        const QString candidate = folder + u'/' + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

QCoro::Task<std::optional<QString>> FFmpegLocator::version(QString program, std::chrono::milliseconds timeLimit)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("-version")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::SeparateChannels);

    // Both streams are read while the program runs, so a talkative program never stalls on a
    // full pipe; only the beginning of standard output matters, so little of it is kept.
    constexpr qsizetype keptBytes = 1 << 20;
    QByteArray output;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process, [&] {
        const QByteArray chunk = process.readAllStandardOutput();
        if (output.size() < keptBytes)
            output += chunk.left(keptBytes - output.size());
    });
    QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                     [&] { process.readAllStandardError(); });
    bool timedOut = false;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &process, [&] {
        timedOut = true;
        process.kill();
    });
    QObject::connect(&process, &QProcess::started, &limit, [&] { limit.start(timeLimit); });

    const platform::ProcessEnd end = co_await platform::ProcessAwaiter(process);
    limit.stop();
    if (!end.succeeded() || timedOut)
        co_return std::nullopt;
    const QByteArray rest = process.readAllStandardOutput();
    if (output.size() < keptBytes)
        output += rest.left(keptBytes - output.size());

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(output);
    // A cut in the middle of a character is the cut's fault, not the program's.
    if (decoder.hasError() && output.size() < keptBytes)
        co_return std::nullopt;
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    if (lines.isEmpty())
        co_return std::nullopt;
    co_return lines.first();
}

namespace {

// Steps that touch whole files run on a worker thread, so the main thread stays live. The error
// travels back as a value and is thrown on the caller's side.
std::optional<FileError> copyToStaging(const QString &source, const QString &staging)
{
    std::error_code error;
    fs::copy_file(fsPath(source), fsPath(staging), fs::copy_options::none, error);
    if (error) {
        removeQuietly(staging);
        return FileError(QStringLiteral("Could not copy ") + source + QStringLiteral(" to"), staging, error);
    }
    fs::permissions(fsPath(staging), fs::perms(0755), fs::perm_options::replace, error);
    if (error) {
        removeQuietly(staging);
        return FileError(QStringLiteral("Could not set the permissions of"), staging, error);
    }
    return std::nullopt;
}

std::optional<FileError> createToolsFolder()
{
    const QString folder = FFmpegLocator::toolsDir();
    std::error_code error;
    fs::create_directories(fsPath(folder), error);
    if (error)
        return FileError(QStringLiteral("Could not create the folder"), folder, error);
    return std::nullopt;
}

} // namespace

QCoro::Task<QString> FFmpegLocator::adoptBinary(QString source)
{
    // Plain locals only, and every awaited task held in a variable: g++ 12 mishandles
    // temporaries and const locals that live across a suspension.
    QString managed = managedCopy();
    if (std::optional<FileError> error = createToolsFolder())
        throw *error;
    if (isSameFile(source, managed))
        co_return managed;

    QString staging = toolsDir() + QStringLiteral("/ffmpeg.staging-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    QFuture<std::optional<FileError>> copying =
        QtConcurrent::run([source, staging] { return copyToStaging(source, staging); });
    co_await copying;
    if (std::optional<FileError> error = copying.result())
        throw *error;

    QCoro::Task<std::optional<QString>> checking = version(staging);
    std::optional<QString> firstLine = co_await checking;
    if (!firstLine || firstLine->isEmpty()) {
        removeQuietly(staging);
        throw AdoptionError::notWorkingFFmpeg();
    }

    installStaged(staging);
    clearQuarantine(managed);
    co_return managed;
}

void FFmpegLocator::installStaged(const QString &stagingPath)
{
    const QString managed = managedCopy();
    const QString previous = previousCopy();

    // Only a file of ours is expected here; a non-recursive removal never takes more.
    removeQuietly(previous);

    bool movedAside = false;
    std::error_code error;
    if (fs::exists(fs::symlink_status(fsPath(managed), error))) {
        fs::rename(fsPath(managed), fsPath(previous), error);
        if (error) {
            removeQuietly(stagingPath);
            throw FileError(QStringLiteral("Could not move aside"), managed, error);
        }
        movedAside = true;
    }

    fs::rename(fsPath(stagingPath), fsPath(managed), error);
    if (error) {
        removeQuietly(stagingPath);
        if (movedAside) {
            std::error_code ignored;
            fs::rename(fsPath(previous), fsPath(managed), ignored);
        }
        throw FileError(QStringLiteral("Could not move the new ffmpeg to"), managed, error);
    }
    if (movedAside)
        removeQuietly(previous);
}

bool FFmpegLocator::isSameFile(const QString &a, const QString &b)
{
    if (QDir::cleanPath(QFileInfo(a).absoluteFilePath()) == QDir::cleanPath(QFileInfo(b).absoluteFilePath()))
        return true;
    struct stat first {};
    struct stat second {};
    if (::stat(QFile::encodeName(a).constData(), &first) != 0 || ::stat(QFile::encodeName(b).constData(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

void FFmpegLocator::clearQuarantine(const QString &path, const QString &xattrProgram)
{
    // Linux keeps no quarantine mark; the tool exists only where the system has one.
    if (!isExecutableFile(xattrProgram))
        return;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(xattrProgram, {QStringLiteral("-dr"), QStringLiteral("com.apple.quarantine"), path});
    if (process.waitForStarted(-1))
        process.waitForFinished(-1);
}

QString FFmpegLocator::parseChecksum(const QString &text)
{
    qsizetype at = 0;
    const qsizetype size = text.size();
    while (at < size) {
        while (at < size && text[at].isSpace())
            ++at;
        const qsizetype start = at;
        while (at < size && !text[at].isSpace())
            ++at;
        if (at - start < 64)
            continue;
        const QString piece = text.sliced(start, at - start).toLower();
        const bool hex = std::all_of(piece.cbegin(), piece.cend(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
        });
        if (hex)
            return piece;
    }
    return {};
}

} // namespace vorlik::ffmpeg
