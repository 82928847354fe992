// The image tool's attach report, a property list: UpdateManager::mountPoint. The answer does
// not depend on the list's format (the same list as XML reads the same), and a report made
// around the answer reads back as it.
#include "fuzz/FuzzSupport.h"
#include "update/UpdateManager.h"

#include <QStringDecoder>

#include <plist/plist.h>

#include <cstdlib>

using vorlik::update::UpdateManager;

namespace {

QByteArray asXml(plist_t root)
{
    char *xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const QByteArray bytes(xml, xml ? qsizetype(length) : 0);
    std::free(xml);
    return bytes;
}

QByteArray reportFor(const QString &mountPoint)
{
    plist_t root = plist_new_dict();
    plist_t entities = plist_new_array();
    plist_t device = plist_new_dict();
    plist_dict_set_item(device, "dev-entry", plist_new_string("/dev/disk4"));
    plist_array_append_item(entities, device);
    plist_t volume = plist_new_dict();
    plist_dict_set_item(volume, "mount-point", plist_new_string(mountPoint.toUtf8().constData()));
    plist_array_append_item(entities, volume);
    plist_dict_set_item(root, "system-entities", entities);
    const QByteArray xml = asXml(root);
    plist_free(root);
    return xml;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray report = vorlik::fuzz::bytes(data, size);
    const std::optional<QString> point = UpdateManager::mountPoint(report);
    if (point)
        FUZZ_CHECK(!point->isEmpty(), QString::fromUtf8(report));

    plist_t root = nullptr;
    plist_from_memory(report.constData(), uint32_t(report.size()), &root);
    if (root) {
        const QByteArray xml = asXml(root);
        plist_free(root);
        // The forms are compared where the XML form is faithful: valid UTF-8 (libplist's XML
        // reader may refuse other bytes) and read back to the same XML (a binary dictionary can
        // hold a key twice, which XML cannot keep).
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        decoder.decode(xml);
        plist_t again = nullptr;
        if (!xml.isEmpty() && !decoder.hasError())
            plist_from_memory(xml.constData(), uint32_t(xml.size()), &again);
        if (again) {
            const bool faithful = asXml(again) == xml;
            plist_free(again);
            if (faithful)
                FUZZ_CHECK(UpdateManager::mountPoint(xml) == point, QString::fromUtf8(xml));
        }
    }
    // Text with a zero byte cannot travel through the list's C strings.
    if (point && vorlik::fuzz::isWellFormed(*point) && !point->contains(QChar(0))) {
        const QByteArray made = reportFor(*point);
        FUZZ_CHECK(UpdateManager::mountPoint(made) == point, QString::fromUtf8(made));
    }
    return 0;
}
