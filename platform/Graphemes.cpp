#include "platform/Graphemes.h"

#include <unicode/ubrk.h>

#include <algorithm>
#include <memory>

namespace vorlik::platform {
namespace {

struct BreakIteratorCloser {
    void operator()(UBreakIterator *iterator) const { ubrk_close(iterator); }
};
using BreakIterator = std::unique_ptr<UBreakIterator, BreakIteratorCloser>;

// Opening an iterator loads ICU's rules; one per thread is reused for every text.
UBreakIterator *characterIterator()
{
    thread_local BreakIterator iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        BreakIterator opened(ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status));
        return U_SUCCESS(status) ? std::move(opened) : BreakIterator();
    }();
    return iterator.get();
}

// Calls visit(offset) for each boundary after 0, in order, until it returns false.
template <typename Visit>
void forEachBoundary(QStringView text, Visit visit)
{
    if (text.isEmpty())
        return;
    UBreakIterator *iterator = characterIterator();
    UErrorCode status = U_ZERO_ERROR;
    if (iterator)
        ubrk_setText(iterator, reinterpret_cast<const UChar *>(text.utf16()), int32_t(text.size()), &status);
    if (!iterator || U_FAILURE(status)) {
        // Without ICU data, fall back to code points so that surrogate pairs still stay whole.
        for (qsizetype i = 0; i < text.size();) {
            i += (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
            if (!visit(i))
                return;
        }
        return;
    }
    for (int32_t at = ubrk_next(iterator); at != UBRK_DONE; at = ubrk_next(iterator)) {
        if (!visit(qsizetype(at)))
            break;
    }
    ubrk_setText(iterator, nullptr, 0, &status);
}

} // namespace

std::vector<qsizetype> Graphemes::boundaries(QStringView text)
{
    std::vector<qsizetype> result{0};
    result.reserve(size_t(text.size()) + 1);
    forEachBoundary(text, [&](qsizetype at) {
        result.push_back(at);
        return true;
    });
    return result;
}

qsizetype Graphemes::count(QStringView text)
{
    qsizetype n = 0;
    forEachBoundary(text, [&](qsizetype) {
        ++n;
        return true;
    });
    return n;
}

QString Graphemes::prefix(const QString &text, qsizetype limit)
{
    if (limit <= 0)
        return {};
    // Every character is at least one UTF-16 unit: a text this short has no more characters.
    if (text.size() <= limit)
        return text;
    qsizetype n = 0;
    qsizetype end = text.size();
    forEachBoundary(text, [&](qsizetype at) {
        if (++n == limit) {
            end = at;
            return false;
        }
        return true;
    });
    return text.left(end);
}

QString Graphemes::prefix(const QString &text, qsizetype limit, qsizetype maxUnits)
{
    if (limit <= 0 || maxUnits <= 0)
        return {};
    if (text.size() <= std::min(limit, maxUnits))
        return text;
    qsizetype n = 0;
    qsizetype end = 0;
    bool whole = true;
    forEachBoundary(text, [&](qsizetype at) {
        if (at > maxUnits) {
            whole = false;
            return false;
        }
        end = at;
        return ++n < limit;
    });
    if (end > 0 || whole)
        return text.left(end);
    // One character longer than the whole allowance: keep its first code points.
    end = maxUnits;
    if (text.at(end - 1).isHighSurrogate() && text.at(end).isLowSurrogate())
        --end;
    return text.left(end);
}

QString Graphemes::suffix(const QString &text, qsizetype limit)
{
    if (limit <= 0)
        return {};
    if (text.size() <= limit)
        return text;
    // Only the last limit characters matter, and no cluster is longer than the text itself, so
    // the boundaries of the whole text decide; walk them from the end.
    const std::vector<qsizetype> all = boundaries(text);
    const qsizetype characters = qsizetype(all.size()) - 1;
    if (characters <= limit)
        return text;
    return text.mid(all[size_t(characters - limit)]);
}

} // namespace vorlik::platform
