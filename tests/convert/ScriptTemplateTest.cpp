#include "convert/ConvertRunner.h"
#include "convert/LoudnessPlaceholders.h"
#include "convert/TemplateError.h"

#include "TestMedia.h"

#include <gtest/gtest.h>

#include <optional>

using vorlik::convert::ConvertRunner;
using vorlik::convert::TemplateError;
using Case = vorlik::convert::TemplateError::Case;

namespace {

const QString takeInput = "/Volumes/Media/Take 1.flac";
const QString takeBase = "/Volumes/Media/.vorlik-tmp-6F1E0C2A-0000-4000-8000-000000000001-Take 1";

std::optional<TemplateError> rejection(const QString &script, const QString &input = takeInput, const QString &base = takeBase)
{
    try {
        ConvertRunner::buildArguments(script, input, base);
    } catch (const TemplateError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

TEST(ScriptTemplate, WorkedExampleGivesNineArgumentsAndOnlyABareFFmpegIsFFmpeg)
{
    const QString script = "ffmpeg -hide_banner -i \"{input}\" -af 'volume=0.5' -metadata "
                           "comment=\"a \\\"quoted\\\" word\" title=Take\\ One \"\" {output_base}.wav";
    EXPECT_EQ(ConvertRunner::buildArguments(script, takeInput, takeBase),
              (QStringList{"-hide_banner", "-i", takeInput, "-af", "volume=0.5", "-metadata", "comment=a \"quoted\" word",
                           "title=Take One", takeBase + ".wav"}));
    const auto error = rejection(QString(script).replace(0, 6, "/usr/local/bin/ffmpeg"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), Case::notFFmpeg);
    EXPECT_EQ(error->description(), "The script does not start with an ffmpeg command.");
}

TEST(ScriptTemplate, Tokens)
{
    const struct { const char *name; QString script; QStringList tokens; } cases[] = {
        {"runs of white space are one separator", "a   \t\n b", {"a", "b"}},
        {"backslash stays in single quotes", "'a\\b'", {"a\\b"}}, {"escaped quote outside quotes", "\\'x\\\"", {"'x\""}},
        {"escaped backslash outside quotes", "a\\\\b", {"a\\b"}}, {"escaped space joins", "a\\ b", {"a b"}},
        {"escaped line break outside quotes", "a\\\nb", {"a\nb"}}, {"trailing backslash is plain", "ab\\", {"ab\\"}},
        {"trailing backslash inside double quotes", "\"ab\\", {"ab\\"}},
        {"quoted parts join their neighbours", "a\"b c\"d'e f'g", {"ab cde fg"}}, {"double-quote escapes", "\"q\\\"x\\\\y\\z\"", {"q\"x\\y\\z"}},
        {"single quote inside double quotes", "\"it's\"", {"it's"}}, {"empty quotes after text", "title=\"\"", {"title="}},
        {"double quote inside single quotes", "'say \"hi\"'", {"say \"hi\""}},
        {"empty quotes alone give nothing", "a \"\" '' b", {"a", "b"}},
        {"unterminated quote keeps the rest", "ffmpeg 'abc def \n ", {"ffmpeg", "abc def \n "}},
        {"unicode white space separates", "a\u00A0b\u2003c\u3000d\u0085e\u2028f\u2029g\vh\fi\rj\u1680k\u202Fl\u205Fm",
         {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m"}},
        {"zero-width space is not white space", "a\u200Bb", {"a\u200Bb"}},
        {"carriage return and line feed separate", "a\r\nb", {"a", "b"}},
        {"a quote with a combining mark is a letter", "'\u0301ab c", {"'\u0301ab", "c"}},
        {"a backslash with a combining mark is a letter", "\\\u0301 x", {"\\\u0301", "x"}},
        {"escape takes a whole character", "\\e\u0301x", {"e\u0301x"}},
        {"emoji and flags pass unchanged", "\U0001F1E9\U0001F1EA \U0001F468\u200D\U0001F469\u200D\U0001F467 caf\u00E9 \u6771\u4EAC",
         {"\U0001F1E9\U0001F1EA", "\U0001F468\u200D\U0001F469\u200D\U0001F467", "caf\u00E9", "\u6771\u4EAC"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ConvertRunner::tokenize(c.script), c.tokens) << c.name;
}

TEST(ScriptTemplate, ArgumentsOrTheFirstRefusal)
{
    const QString in = "/m/in.wav";
    const QString out = "/m/.tmp-x";
    // arguments when the script is accepted, error (and its token) when it is refused.
    const struct { const char *name; QString script, input, base; QStringList arguments; std::optional<Case> error;
                   QString token = {}; } cases[] = {
        {"only ffmpeg is an empty list", "  ffmpeg \n", in, out, {}, {}},
        {"empty script", QString(), in, out, {}, Case::notFFmpeg},
        {"white space only", " \t\n\u00A0", in, out, {}, Case::notFFmpeg},
        {"capitalised program", "FFmpeg -i {input}", in, out, {}, Case::notFFmpeg},
        {"windows program name", "ffmpeg.exe -i {input}", in, out, {}, Case::notFFmpeg},
        {"quoted program is accepted", "'ffmpeg' -y", in, out, {"-y"}, {}},
        {"placeholder twice in a token", "ffmpeg {input}|{input}", in, out, {in + u'|' + in}, {}},
        {"placeholder inside other text", "ffmpeg x={output_base}.wav", in, out, {"x=" + out + ".wav"}, {}},
        {"upper-case placeholder", "ffmpeg {INPUT}", in, out, {}, Case::unknownPlaceholder, "{INPUT}"},
        {"spaced placeholder", "ffmpeg '{ input }'", in, out, {}, Case::unknownPlaceholder, "{ input }"},
        {"lone closing brace", "ffmpeg a}", in, out, {}, Case::unknownPlaceholder, "a}"},
        // A placeholder error comes before a later control-character error.
        {"the first error ends the build", "ffmpeg {bad} 'a\nb'", in, out, {}, Case::unknownPlaceholder, "{bad}"},
        {"quoted line feed", "ffmpeg -metadata 'a\nb'", in, out, {}, Case::controlCharacters},
        {"quoted carriage return", "ffmpeg \"a\rb\"", in, out, {}, Case::controlCharacters},
        {"escaped line feed", "ffmpeg a\\\nb", in, out, {}, Case::controlCharacters},
        {"unquoted line feed separates", "ffmpeg -metadata a\nb", in, out, {"-metadata", "a", "b"}, {}},
        {"a tab inside quotes passes", "ffmpeg 'a\tb'", in, out, {"a\tb"}, {}},
        {"unicode in tokens and paths", "ffmpeg -i {input} -metadata title='Caf\u00E9 \u6771\u4EAC \U0001F3B5'",
         "/m/\u00DCn\u00EFc\u00F8d\u00E9 \U0001F3B5.flac", out,
         {"-i", "/m/\u00DCn\u00EFc\u00F8d\u00E9 \U0001F3B5.flac", "-metadata", "title=Caf\u00E9 \u6771\u4EAC \U0001F3B5"}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.error) {
            EXPECT_EQ(ConvertRunner::buildArguments(c.script, c.input, c.base), c.arguments);
            continue;
        }
        const auto error = rejection(c.script, c.input, c.base);
        ASSERT_TRUE(error);
        EXPECT_EQ(std::pair(error->kind(), error->token()), std::pair(*c.error, c.token)); // token: unknownPlaceholder only
    }
}

TEST(ScriptTemplate, MeasuredPlaceholdersExistOnlyWhenGiven)
{
    // Without a measurement every measured placeholder is unknown, as any other name is; with
    // one, each is replaced (and a name that merely starts like one is still unknown).
    const auto measured = vorlik::convert::LoudnessPlaceholders::of({-22.04, -8.7, 6.3, -32.5}, 8.04, -1.3);
    const QList<std::pair<QString, QString>> cases{
        {"volume={gain}dB", "volume=8.04dB"}, {"measured_I={measured_i}", "measured_I=-22.04"},
        {"measured_TP={measured_tp}", "measured_TP=-8.70"}, {"measured_LRA={measured_lra}", "measured_LRA=6.30"},
        {"measured_thresh={measured_thresh}", "measured_thresh=-32.50"}, {"points={limit}/{limit}", "points=-1.30/-1.30"},
        {"{gain_db}", QString()}, {"{GAIN}", QString()}, // unknown even with the measurement
    };
    for (const auto &[token, replaced] : cases) {
        SCOPED_TRACE(token.toStdString());
        const QString script = "ffmpeg -af " + token;
        const auto plain = rejection(script);
        ASSERT_TRUE(plain);
        EXPECT_EQ(plain->description(), "The script uses an unsupported placeholder in '" + token + "'.");
        if (replaced.isEmpty()) {
            EXPECT_THROW(ConvertRunner::buildArguments(script, takeInput, takeBase, measured), TemplateError);
        } else {
            EXPECT_EQ(ConvertRunner::buildArguments(script, takeInput, takeBase, measured), (QStringList{"-af", replaced}));
        }
    }
}
