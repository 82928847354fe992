// The update description (latest.json): Manifest::fromJSON, the manifest written back and read
// again, and UpdateManager::isManifestWellFormed against a fixed manifest address. A manifest
// judged well formed names a parsable version, a build of 1 or more, a 64-digit digest and an
// https image on the manifest's own host or the service's.
#include "fuzz/FuzzSupport.h"
#include "platform/ServiceConfig.h"
#include "update/Manifest.h"
#include "update/UnreadableDataError.h"
#include "update/UpdateManager.h"
#include "update/Version.h"

#include <QUrl>

using vorlik::update::Manifest;
using vorlik::update::UnreadableDataError;
using vorlik::update::UpdateManager;
using vorlik::update::Version;

namespace {

const QUrl manifestURL(QStringLiteral("https://updates.vorlik.test/tools/desktop/latest.json"));

QString shown(const Manifest &m)
{
    return QStringList{m.version, QString::number(m.build), m.dmg, m.sha256, m.notes.value_or(QStringLiteral("-")),
                       m.minMacos.value_or(QStringLiteral("-"))}
        .join(u'|');
}

bool wellFormedStrings(const Manifest &m)
{
    using vorlik::fuzz::isWellFormed;
    return isWellFormed(m.version) && isWellFormed(m.dmg) && isWellFormed(m.sha256)
        && isWellFormed(m.notes.value_or(QString())) && isWellFormed(m.minMacos.value_or(QString()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json = vorlik::fuzz::bytes(data, size);
    Manifest manifest;
    try {
        manifest = Manifest::fromJSON(json);
    } catch (const UnreadableDataError &error) {
        FUZZ_CHECK(!error.description().isEmpty(), QString::fromUtf8(json));
        return 0;
    }

    if (wellFormedStrings(manifest)) {
        const QByteArray written = manifest.toJSON();
        Manifest again;
        try {
            again = Manifest::fromJSON(written);
        } catch (const UnreadableDataError &error) {
            vorlik::fuzz::fail("written manifest decodes", error.description() + QStringLiteral(" in ") + QString::fromUtf8(written));
        }
        FUZZ_CHECK(again == manifest, shown(again) + QStringLiteral(" vs ") + shown(manifest));
    }

    if (!UpdateManager::isManifestWellFormed(manifest, manifestURL))
        return 0;
    FUZZ_CHECK(Version::parse(manifest.version).has_value(), shown(manifest));
    FUZZ_CHECK(manifest.build >= 1, shown(manifest));
    FUZZ_CHECK(manifest.sha256.size() == 64, shown(manifest));
    const QUrl image(manifest.dmg, QUrl::StrictMode);
    FUZZ_CHECK(image.isValid() && image.scheme() == QStringLiteral("https"), shown(manifest));
    FUZZ_CHECK(manifest.dmg.startsWith(QStringLiteral("https://")), shown(manifest)); // as written
    const auto service = vorlik::platform::ServiceConfig::current();
    FUZZ_CHECK(image.host() == manifestURL.host() || image.host() == service.host || image.host() == service.wwwHost,
               image.host() + QStringLiteral(" in ") + shown(manifest));
    // The address the download then asks for is the one that was judged.
    FUZZ_CHECK(QUrl(manifest.dmg, QUrl::StrictMode) == image, shown(manifest));
    return 0;
}
