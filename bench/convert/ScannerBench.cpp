// MediaScanner::collect over a generated tree of 100,000 media files in 1,000 folders (distinct
// names with numbers, mixed case, several extensions), against `find DIR -type f | sort` over the
// same tree (the anchor), alternately in one run after a warm-up. Prints the best time of each
// and the ratio collect/find (aim: <= 1.5).
#include "convert/MediaScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

using vorlik::convert::MediaScanner;

namespace {

constexpr int folders = 1000;
constexpr int filesPerFolder = 100;
constexpr int rounds = 5;

void makeTree(const QString &root)
{
    static const char *const extensions[] = {"wav", "mov", "FLAC", "mp4", "m4a"};
    for (int f = 0; f < folders; ++f) {
        const QString folder = root + QStringLiteral("/Shoot %1/Day %2").arg(f / 50 + 1).arg(f % 50 + 1);
        if (!QDir().mkpath(folder))
            throw std::runtime_error("cannot make the tree");
        const QByteArray prefix = QFile::encodeName(folder) + "/";
        for (int i = 0; i < filesPerFolder; ++i) {
            // Every name different, as in a card of camera clips: the sort cannot lean on repeats.
            const QByteArray name = prefix + (i % 2 ? "Take " : "take ") + QByteArray::number(f * filesPerFolder + i + 1)
                + "." + extensions[i % 5];
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
            if (fd < 0)
                throw std::runtime_error("cannot make the tree");
            ::close(fd);
        }
    }
}

qint64 collectRound(const QString &root)
{
    QElapsedTimer clock;
    clock.start();
    const QStringList found = MediaScanner::collect(QStringList{root}, MediaScanner::mediaExtensions());
    const qint64 elapsed = clock.nsecsElapsed();
    if (found.size() != folders * filesPerFolder)
        throw std::runtime_error("collect found " + std::to_string(found.size()) + " files");
    return elapsed;
}

qint64 findRound(const QString &root)
{
    QElapsedTimer clock;
    clock.start();
    QProcess shell;
    shell.setStandardOutputFile(QProcess::nullDevice());
    shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("find \"$1\" -type f | sort"),
                                            QStringLiteral("sh"), root});
    if (!shell.waitForFinished(600000) || shell.exitCode() != 0)
        throw std::runtime_error("find | sort failed");
    return clock.nsecsElapsed();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    try {
        const QString root = dir.filePath(QStringLiteral("tree"));
        makeTree(root);
        collectRound(root);
        findRound(root);
        qint64 bestCollect = std::numeric_limits<qint64>::max();
        qint64 bestFind = std::numeric_limits<qint64>::max();
        for (int round = 0; round < rounds; ++round) {
            bestFind = std::min(bestFind, findRound(root));
            bestCollect = std::min(bestCollect, collectRound(root));
        }
        std::printf("%d files in %d folders, best of %d: MediaScanner::collect %.0f ms, find | sort %.0f ms\n",
                    folders * filesPerFolder, folders, rounds, bestCollect / 1e6, bestFind / 1e6);
        std::printf("scanner ratio collect/find: %.2f (aim <= 1.5)\n", double(bestCollect) / double(bestFind));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "scanner_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
