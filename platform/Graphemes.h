#pragma once
// User-perceived characters (extended grapheme clusters, ICU's rules). Scripts, error tails and
// summaries count and cut text by these, so an emoji, a flag or an accented letter written with
// a combining mark is never split.
#include <QString>
#include <QStringView>

#include <vector>

namespace vorlik::platform {

struct Graphemes {
    // Offsets (UTF-16 units) of every cluster boundary, 0 and text.size() included.
    static std::vector<qsizetype> boundaries(QStringView text);
    static qsizetype count(QStringView text);
    // The first / last `limit` characters of text (all of it when it is shorter).
    static QString prefix(const QString &text, qsizetype limit);
    // The same, but never more than `maxUnits` UTF-16 units: cut at the last character boundary
    // within them, or, when the first character alone is longer (a letter with endless
    // combining marks), at the last code point within them.
    static QString prefix(const QString &text, qsizetype limit, qsizetype maxUnits);
    static QString suffix(const QString &text, qsizetype limit);
};

} // namespace vorlik::platform
