#pragma once
// The preset list document. Only `presets` is used elsewhere, but every member must be
// present and well typed for the document to decode.
#include "service/Preset.h"

#include <QByteArray>
#include <QString>

namespace vorlik::service {

struct PresetsPayload {
    qint64 version = 0;
    QString generatedAt; // "generated_at"
    QString note;
    PresetList presets;  // in document order

    // Throws DecodingError; one faulty preset fails the whole document.
    static PresetsPayload fromJSON(const QByteArray &json);
    // Compact JSON: "version", "note", "presets", "generated_at".
    QByteArray toJSON() const;
};

} // namespace vorlik::service
