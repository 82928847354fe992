#pragma once
// The update description the service publishes (latest.json). A value, compared member by
// member. Keys are matched after snake-case conversion ("min_macos" fills minMacos, and
// "minMacos" matches as written); unknown keys are ignored.
#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <optional>

namespace vorlik::update {

struct Manifest {
    QString version;                 // "version": dotted release version
    qint64 build = 0;                // "build"
    QString dmg;                     // "dmg": absolute URL of the update image
    QString sha256;                  // "sha256": the image's digest, 64 hex digits
    std::optional<QString> notes;    // "notes": release notes
    std::optional<QString> minMacos; // "min_macos": lowest macOS the release runs on

    // Throws UnreadableDataError when the body is not a JSON object, a required member is
    // missing or null, or a member has the wrong JSON type (a build must be a whole number).
    static Manifest fromJSON(const QByteArray &json);
    // Snake-case keys (sorted, as QJsonObject writes them); absent optionals are left out.
    QByteArray toJSON() const;

    // "min_macos" -> "minMacos", "_a_b_" -> "_aB_", a key without "_" stays as written.
    static QString convertFromSnakeCase(const QString &key);

    friend bool operator==(const Manifest &, const Manifest &) = default;
};

} // namespace vorlik::update

Q_DECLARE_METATYPE(vorlik::update::Manifest)
