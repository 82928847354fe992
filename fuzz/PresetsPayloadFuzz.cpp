// The preset list document: PresetsPayload::fromJSON (each preset with it), and the document
// written back with toJSON and decoded again.
#include "fuzz/FuzzSupport.h"
#include "service/JsonFields.h"
#include "service/PresetsPayload.h"

#include <QJsonDocument>

using vorlik::service::DecodingError;
using vorlik::service::PresetsPayload;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json = vorlik::fuzz::bytes(data, size);
    PresetsPayload payload;
    try {
        payload = PresetsPayload::fromJSON(json);
    } catch (const DecodingError &error) {
        FUZZ_CHECK(!error.description().isEmpty(), QString::fromUtf8(json));
        return 0;
    }
    const QByteArray written = payload.toJSON();
    QJsonParseError parseError;
    QJsonDocument::fromJson(written, &parseError);
    FUZZ_CHECK(parseError.error == QJsonParseError::NoError, QString::fromUtf8(written));
    PresetsPayload again;
    try {
        again = PresetsPayload::fromJSON(written);
    } catch (const DecodingError &error) {
        vorlik::fuzz::fail("written document decodes", error.description() + QStringLiteral(" in ") + QString::fromUtf8(written));
    }
    FUZZ_CHECK(again.version == payload.version && again.generatedAt == payload.generatedAt && again.note == payload.note,
               QString::fromUtf8(written));
    FUZZ_CHECK(again.presets == payload.presets, QString::fromUtf8(written));
    return 0;
}
