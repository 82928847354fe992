#include "convert/NameCollator.h"

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace vorlik::convert {
namespace {

QLocale collationLocale(const QLocale &locale)
{
    return locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale;
}

} // namespace

NameCollator::NameCollator() : NameCollator(QLocale()) {}

NameCollator::NameCollator(const QLocale &locale)
{
    UErrorCode status = U_ZERO_ERROR;
    m_collator = ucol_open(collationLocale(locale).name().toLatin1().constData(), &status);
    if (U_FAILURE(status) || !m_collator) {
        status = U_ZERO_ERROR;
        m_collator = ucol_open("", &status); // the root collation still orders numbers and cases
    }
    if (!m_collator)
        return;
    ucol_setAttribute(m_collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
    // Secondary strength tells accents apart but not case.
    ucol_setAttribute(m_collator, UCOL_STRENGTH, UCOL_SECONDARY, &status);
    ucol_setAttribute(m_collator, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
}

NameCollator::~NameCollator()
{
    if (m_collator)
        ucol_close(m_collator);
}

int NameCollator::compare(QStringView a, QStringView b) const
{
    if (!m_collator)
        return a.compare(b, Qt::CaseInsensitive);
    return ucol_strcoll(m_collator, reinterpret_cast<const UChar *>(a.utf16()), int32_t(a.size()),
                        reinterpret_cast<const UChar *>(b.utf16()), int32_t(b.size()));
}

std::vector<size_t> NameCollator::stableOrder(const std::vector<QStringView> &names) const
{
    std::vector<size_t> order(names.size());
    std::iota(order.begin(), order.end(), size_t(0));
    if (names.size() < 2)
        return order;
    if (!m_collator) {
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return compare(names[a], names[b]) < 0; });
        return order;
    }

    // Keys are NUL-terminated byte strings: strcmp orders them as the collator orders the names.
    std::vector<uint8_t> keys;
    keys.reserve(names.size() * 24);
    std::vector<size_t> offsets(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const UChar *text = reinterpret_cast<const UChar *>(names[i].utf16());
        const int32_t length = int32_t(names[i].size());
        const size_t offset = keys.size();
        size_t room = size_t(length) * 4 + 16;
        keys.resize(offset + room);
        int32_t needed = ucol_getSortKey(m_collator, text, length, keys.data() + offset, int32_t(room));
        if (size_t(needed) > room) {
            room = size_t(needed);
            keys.resize(offset + room);
            needed = ucol_getSortKey(m_collator, text, length, keys.data() + offset, int32_t(room));
        }
        keys.resize(offset + size_t(needed));
        offsets[i] = offset;
    }
    const auto key = [&](size_t i) { return reinterpret_cast<const char *>(keys.data() + offsets[i]); };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return std::strcmp(key(a), key(b)) < 0; });
    return order;
}

} // namespace vorlik::convert
