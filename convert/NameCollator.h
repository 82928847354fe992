#pragma once
// The order file browsers give names: the user's language, case-insensitive, digits compared by
// their numeric value ("Take 2" before "Take 10"). One ICU sort key per name, kept side by side
// in one buffer, so that sorting many names costs key comparisons, not allocations.
#include <QLocale>
#include <QStringView>

#include <vector>

struct UCollator;

namespace vorlik::convert {

class NameCollator {
public:
    // The user's collation; the C locale has none (and would ignore numeric mode), so it falls
    // back to the language-neutral English one.
    NameCollator();
    explicit NameCollator(const QLocale &locale);
    ~NameCollator();
    NameCollator(const NameCollator &) = delete;
    NameCollator &operator=(const NameCollator &) = delete;

    // The positions of `names` in sorted order; equal names keep their order.
    std::vector<size_t> stableOrder(const std::vector<QStringView> &names) const;
    // <0, 0 or >0 as a sorts before, with or after b.
    int compare(QStringView a, QStringView b) const;

private:
    UCollator *m_collator = nullptr;
};

} // namespace vorlik::convert
