#include "update/Version.h"

#include <QStringList>

namespace vorlik::update {

std::optional<Version> Version::parse(const QString &text)
{
    const QStringList pieces = text.split(u'.', Qt::KeepEmptyParts);
    if (pieces.isEmpty() || pieces.size() > 3)
        return std::nullopt;
    qint64 numbers[3] = {0, 0, 0};
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QString &piece = pieces.at(i);
        if (piece.isEmpty() || piece.contains(u'-'))
            return std::nullopt;
        // Only digits after an optional "+": toLongLong alone would also take spaces.
        const qsizetype digitsFrom = piece.startsWith(u'+') ? 1 : 0;
        if (digitsFrom == piece.size())
            return std::nullopt;
        for (qsizetype at = digitsFrom; at < piece.size(); ++at)
            if (piece.at(at) < u'0' || piece.at(at) > u'9')
                return std::nullopt;
        bool ok = false;
        const qint64 value = piece.toLongLong(&ok, 10);
        if (!ok || value < 0)
            return std::nullopt;
        numbers[i] = value;
    }
    return Version{numbers[0], numbers[1], numbers[2]};
}

} // namespace vorlik::update
