#include "web/FileChooserRequest.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QMimeType>

#include <algorithm>
#include <optional>

namespace vorlik::web {

namespace {

// The type itself, its aliases and the types it derives from (audio/x-wav: audio/wav,
// audio/vnd.wave …), leaving out the one every binary file derives from, so that
// "application/*" does not take any file at all.
QStringList namesOf(const QMimeType &type)
{
    QStringList names{type.name()};
    names += type.aliases();
    names += type.allAncestors();
    names.removeAll(QStringLiteral("application/octet-stream"));
    return names;
}

} // namespace

FileChooserRequest::FileChooserRequest(QWebEnginePage::FileSelectionMode mode, QStringList acceptedTypes)
    : m_mode(mode), m_acceptedTypes(std::move(acceptedTypes))
{
}

bool FileChooserRequest::admits(const QList<QUrl> &files) const
{
    if (files.isEmpty())
        return false;
    switch (m_mode) {
    case QWebEnginePage::FileSelectOpen:
        if (files.size() != 1)
            return false;
        break;
    case QWebEnginePage::FileSelectOpenMultiple:
        break;
    default: // a save picker or a folder upload
        return false;
    }
    return std::all_of(files.begin(), files.end(),
                       [this](const QUrl &file) { return accepts(m_acceptedTypes, file.toLocalFile()); });
}

bool FileChooserRequest::accepts(const QStringList &acceptedTypes, const QString &path)
{
    const QString fileName = QFileInfo(path).fileName().toLower();
    std::optional<QMimeType> type; // looked up once, when a MIME entry needs it
    bool anyEntry = false;
    for (const QString &entry : acceptedTypes) {
        const QString accepted = entry.trimmed().toLower();
        if (accepted.isEmpty())
            continue;
        anyEntry = true;
        if (accepted.startsWith(QLatin1Char('.'))) {
            if (fileName.endsWith(accepted))
                return true;
            continue;
        }
        if (accepted == QLatin1String("*/*") || accepted == QLatin1String("*"))
            return true;
        if (!type)
            type = QMimeDatabase().mimeTypeForFile(path);
        if (accepted.endsWith(QLatin1String("/*"))) {
            const QString group = accepted.chopped(1); // "audio/"
            const QStringList names = namesOf(*type);
            if (std::any_of(names.begin(), names.end(), [&](const QString &name) { return name.startsWith(group); }))
                return true;
        } else if (type->inherits(accepted)) {
            return true;
        }
    }
    return !anyEntry;
}

} // namespace vorlik::web
