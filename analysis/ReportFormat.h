#pragma once
// How the Analysis page writes a report: the value formats (fixed decimals with a unit, byte
// sizes, plain numbers, channel labels) and the report's sections of label/value rows, in the
// order the page shows them. Pure: the page only lays the rows out.
#include "analysis/AnalysisPayload.h"

#include <QList>
#include <QString>

#include <optional>

namespace vorlik::analysis {

// One row of a section. An empty value is shown as "—" (see shown()).
struct ReportRow {
    QString label;
    QString value;

    bool operator==(const ReportRow &) const = default;
};

struct ReportSection {
    QString title;
    QList<ReportRow> rows;

    bool operator==(const ReportSection &) const = default;
};

class ReportFormat {
public:
    // printf of one number in the "C" locale, so a user's decimal comma never changes a report.
    static QString printf(const char *format, double value);

    // Empty when absent, else the number with `digits` decimals followed by `unit`
    // (2 digits, " s": "12.35 s").
    static QString fmt(std::optional<double> value, const QString &unit, int digits);
    static QString fmt(const std::optional<LooseDouble> &value, const QString &unit, int digits);

    // Empty when absent; "1023 bytes"; then KB, MB or GB with one decimal, dividing by 1024 at
    // most three times ("4.7 GB", "4096.0 GB").
    static QString fmtBytes(std::optional<double> value);
    static QString fmtBytes(const std::optional<LooseDouble> &value);

    // A number as plain text: the shortest decimal that reads back as the same double, always
    // with a fraction ("7.0", "-30.0", "0.25"); exponent form only for very small or very large
    // magnitudes ("1e-05", "1e+20"). The same rule as numbers in the report's tags.
    static QString plainNumber(double value);

    // Empty without a channel count; "2 (stereo)" with a layout other than "unknown"; else "2".
    static QString channelLabel(const AnalysisStream &stream);

    // The text a row shows for its value.
    static QString shown(const QString &value);

    // The report's sections, in order: Container, one per audio stream, Other Streams, Metadata,
    // Chapters, Levels, Loudness (EBU R128 / ITU-R BS.1770); each only when the report has it.
    static QList<ReportSection> sections(const AnalysisPayload &report);
};

} // namespace vorlik::analysis
