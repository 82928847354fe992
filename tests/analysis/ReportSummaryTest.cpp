// The summary line under an item's name, from decoded reports.
#include "analysis/ReportSummary.h"

#include <gtest/gtest.h>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

using namespace vorlik::analysis;

namespace {

TEST(ReportSummary, JoinsWhatTheReportHas)
{
    const struct {
        const char *report;
        std::optional<QString> line;
    } cases[] = {
        {R"({"audio_streams":[{"sample_rate_hz":"48000","channels":2,"bit_depth":24}],"loudness":{"integrated_lufs":-23.04}})",
         QStringLiteral("48000 Hz \u00B7 2 ch \u00B7 24-bit \u00B7 -23.0 LUFS")},
        {R"({"audio_streams":[{"sample_rate_hz":44100.4,"channels":"1"}]})", QStringLiteral("44100 Hz \u00B7 1 ch")},
        {R"({"loudness":{"integrated_lufs":-16.25}})", QStringLiteral("-16.2 LUFS")},
        {R"({"audio_streams":[{"channels":6},{"sample_rate_hz":8000}]})", QStringLiteral("6 ch")},
        {R"({"audio_streams":[{"bit_depth":16,"sample_rate_hz":"abc"}],"loudness":{}})", QStringLiteral("16-bit")},
        {R"({"audio_streams":[],"loudness":{"lra_lu":3}})", std::nullopt},
        {R"({"other_streams":[{"codec_type":"video"}]})", std::nullopt},
        {R"({})", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReportSummary::line(AnalysisPayload::fromJSON(c.report)), c.line) << c.report;
}

} // namespace
