// The ffmpeg installer's unpacking of a downloaded archive: FFmpegInstaller::unpack, then
// FFmpegInstaller::removeWorkingFolder. After each input nothing outside the
// working folder has changed, and what was unpacked holds no way out of it.
// Input: "A" and an archive's bytes, or an archive recipe (ArchiveRecipe.h).
#include "ffmpeg/FFmpegInstaller.h"
#include "fuzz/ArchiveRecipe.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/TreeGuard.h"

#include <QDir>
#include <QFile>

using namespace vorlik;

namespace {

// A fixed place, so that seed archives can name absolute paths inside it.
const QString sandbox = QStringLiteral("/tmp/vorlik-fuzz-sandbox/ffmpeg-archive");
const QString work = sandbox + QStringLiteral("/work");
const QString folder = work + QStringLiteral("/vorlik-ffmpeg-run");

void prepareSandbox()
{
    fuzz::removeTree(sandbox);
    QDir().mkpath(sandbox + QStringLiteral("/outside/folder"));
    QDir().mkpath(work);
    QFile sentinel(sandbox + QStringLiteral("/outside/sentinel"));
    sentinel.open(QIODevice::WriteOnly);
    sentinel.write("left alone\n");
    QFile::link(sandbox + QStringLiteral("/outside"), work + QStringLiteral("/outside-link"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool prepared = (prepareSandbox(), true);
    (void)prepared;
    const QByteArray input = fuzz::bytes(data, size);
    const QByteArray archive = input.startsWith('A') ? input.mid(1) : fuzz::ArchiveRecipe::build(input);
    if (archive.isEmpty())
        return 0;

    const fuzz::TreeSnapshot before = fuzz::TreeSnapshot::take(sandbox);
    const std::optional<QString> problem = ffmpeg::FFmpegInstaller::unpack(folder, archive);
    const QString escaped = fuzz::TreeSnapshot::take(sandbox, folder).differenceFrom(before);
    FUZZ_CHECK(escaped.isEmpty(), escaped);
    if (!problem) {
        const QString inside = fuzz::containmentProblem(folder + QStringLiteral("/x"));
        FUZZ_CHECK(inside.isEmpty(), inside);
    }
    // The installer's own clean-up of its working folder.
    ffmpeg::FFmpegInstaller::removeWorkingFolder(folder);
    FUZZ_CHECK(!QFileInfo::exists(folder), QStringLiteral("working folder left behind"));
    const QString removed = fuzz::TreeSnapshot::take(sandbox).differenceFrom(before);
    FUZZ_CHECK(removed.isEmpty(), removed);
    return 0;
}
