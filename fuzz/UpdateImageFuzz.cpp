// The update image: DiskImage::attach (unpacking into a private temporary folder, made
// read-only) and detach, then the whole staging of the bundle inside it
// (UpdateManager::stageApp: attach, bundle checks, copy into the Updates folder, detach). After
// each step nothing outside the folders it owns has changed, what it unpacked or copied holds
// no way out, and no "vorlik-image-" folder is left in the temporary folder.
// Input: "A" and an archive's bytes, or an archive recipe (ArchiveRecipe.h).
#include "fuzz/ArchiveRecipe.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/TreeGuard.h"
#include "platform/AppPaths.h"
#include "update/DiskImage.h"
#include "update/Manifest.h"
#include "update/UpdateManager.h"

#include <QDir>
#include <QFile>

using namespace vorlik;

namespace {

// A fixed place, so that seed archives can name absolute paths inside it.
const QString sandbox = QStringLiteral("/tmp/vorlik-fuzz-sandbox/update-image");
const QString image = sandbox + QStringLiteral("/image.dmg");

void prepareSandbox()
{
    fuzz::removeTree(sandbox);
    QDir().mkpath(sandbox + QStringLiteral("/outside/folder"));
    QDir().mkpath(sandbox + QStringLiteral("/tmp"));
    QDir().mkpath(sandbox + QStringLiteral("/data/Vorlik/Updates"));
    QFile sentinel(sandbox + QStringLiteral("/outside/sentinel"));
    sentinel.open(QIODevice::WriteOnly);
    sentinel.write("left alone\n");
    QFile::link(sandbox + QStringLiteral("/outside"), sandbox + QStringLiteral("/tmp/outside-link"));
    qputenv("TMPDIR", (sandbox + QStringLiteral("/tmp")).toUtf8());
    qputenv("XDG_DATA_HOME", (sandbox + QStringLiteral("/data")).toUtf8());
}

QString leftoverImageFolder()
{
    const QStringList left = QDir(sandbox + QStringLiteral("/tmp")).entryList({QStringLiteral("vorlik-image-*")},
                                                                            QDir::AllEntries | QDir::Hidden | QDir::System);
    return left.isEmpty() ? QString() : left.first();
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
    {
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || file.write(archive) != archive.size())
            fuzz::fail("image written", image);
    }
    const fuzz::TreeSnapshot before = fuzz::TreeSnapshot::take(sandbox);

    QString problem;
    const std::optional<QString> mounted = update::DiskImage::attach(image, &problem);
    if (mounted) {
        FUZZ_CHECK(mounted->startsWith(platform::AppPaths::temporary() + QStringLiteral("/vorlik-image-")), *mounted);
        const QString escaped = fuzz::TreeSnapshot::take(sandbox, *mounted).differenceFrom(before);
        FUZZ_CHECK(escaped.isEmpty(), escaped);
        const QString inside = fuzz::containmentProblem(*mounted);
        FUZZ_CHECK(inside.isEmpty(), inside);
        FUZZ_CHECK(update::DiskImage::detach(*mounted), *mounted);
    }
    FUZZ_CHECK(leftoverImageFolder().isEmpty(), leftoverImageFolder() + QStringLiteral(" after ") + problem);
    QString changed = fuzz::TreeSnapshot::take(sandbox).differenceFrom(before);
    FUZZ_CHECK(changed.isEmpty(), changed);

    update::Manifest manifest;
    manifest.version = QStringLiteral("1.2.25");
    manifest.build = 28;
    try {
        const update::UpdateManager::StagedApp staged = update::UpdateManager::stageApp(manifest, image);
        FUZZ_CHECK(staged.stagedApp.startsWith(platform::AppPaths::updates() + u'/'), staged.stagedApp);
        const QString inside = fuzz::containmentProblem(staged.stagingDir);
        FUZZ_CHECK(inside.isEmpty(), inside);
        const QString escaped = fuzz::TreeSnapshot::take(sandbox, staged.stagingDir).differenceFrom(before);
        FUZZ_CHECK(escaped.isEmpty(), escaped);
        fuzz::removeTree(staged.stagingDir);
    } catch (const std::exception &) {
        // Refused: the checks below say whether it cleaned up after itself.
    }
    FUZZ_CHECK(leftoverImageFolder().isEmpty(), leftoverImageFolder());
    changed = fuzz::TreeSnapshot::take(sandbox).differenceFrom(before);
    FUZZ_CHECK(changed.isEmpty(), changed);
    return 0;
}
