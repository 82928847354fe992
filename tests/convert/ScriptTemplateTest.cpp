// The script language of presets: tokens, quotes, escapes, placeholders and the three refusals.
#include "convert/ConvertRunner.h"
#include "convert/LoudnessPlaceholders.h"
#include "convert/TemplateError.h"

#include "TestMedia.h"

#include <gtest/gtest.h>

#include <optional>

using vorlik::convert::ConvertRunner;
using vorlik::convert::TemplateError;

namespace {

const QString takeInput = QStringLiteral("/Volumes/Media/Take 1.flac");
const QString takeBase = QStringLiteral("/Volumes/Media/.vorlik-tmp-6F1E0C2A-0000-4000-8000-000000000001-Take 1");

QString workedExampleScript()
{
    return QStringLiteral("ffmpeg -hide_banner -i \"{input}\" -af 'volume=0.5' -metadata "
                          "comment=\"a \\\"quoted\\\" word\" title=Take\\ One \"\" {output_base}.wav");
}

std::optional<TemplateError> rejection(const QString &script, const QString &input = takeInput,
                                       const QString &base = takeBase)
{
    try {
        ConvertRunner::buildArguments(script, input, base);
    } catch (const TemplateError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

TEST(ScriptTemplate, WorkedExampleGivesNineArguments)
{
    const QStringList arguments = ConvertRunner::buildArguments(workedExampleScript(), takeInput, takeBase);
    const QStringList expected{
        QStringLiteral("-hide_banner"),
        QStringLiteral("-i"),
        takeInput,
        QStringLiteral("-af"),
        QStringLiteral("volume=0.5"),
        QStringLiteral("-metadata"),
        QStringLiteral("comment=a \"quoted\" word"),
        QStringLiteral("title=Take One"),
        takeBase + QStringLiteral(".wav"),
    };
    EXPECT_EQ(arguments, expected);
}

TEST(ScriptTemplate, WorkedExampleWithProgramPathIsNotFFmpeg)
{
    QString script = workedExampleScript();
    script.replace(0, 6, QStringLiteral("/usr/local/bin/ffmpeg"));
    const auto error = rejection(script);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), TemplateError::Case::notFFmpeg);
    EXPECT_EQ(error->description(), QStringLiteral("The script does not start with an ffmpeg command."));
}

struct TokenCase {
    const char *name;
    QString script;
    QStringList tokens;
};

class Tokenize : public ::testing::TestWithParam<TokenCase> {};

TEST_P(Tokenize, GivesTheTokens)
{
    EXPECT_EQ(ConvertRunner::tokenize(GetParam().script), GetParam().tokens) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Tokenize,
    ::testing::Values(
        TokenCase{"only the program", QStringLiteral("ffmpeg"), {QStringLiteral("ffmpeg")}},
        TokenCase{"surrounding white space", QStringLiteral(" \t ffmpeg \n "), {QStringLiteral("ffmpeg")}},
        TokenCase{"runs of white space are one separator", QStringLiteral("a   \t\n b"),
                  {QStringLiteral("a"), QStringLiteral("b")}},
        TokenCase{"empty script", QString(), {}},
        TokenCase{"backslash stays in single quotes", QStringLiteral("'a\\b'"), {QStringLiteral("a\\b")}},
        TokenCase{"escaped backslash outside quotes", QStringLiteral("a\\\\b"), {QStringLiteral("a\\b")}},
        TokenCase{"escaped space joins", QStringLiteral("a\\ b"), {QStringLiteral("a b")}},
        TokenCase{"escaped quote outside quotes", QStringLiteral("\\'x\\\""), {QStringLiteral("'x\"")}},
        TokenCase{"escaped line break outside quotes", QStringLiteral("a\\\nb"), {QStringLiteral("a\nb")}},
        TokenCase{"trailing backslash is plain", QStringLiteral("ab\\"), {QStringLiteral("ab\\")}},
        TokenCase{"double-quote escapes", QStringLiteral("\"q\\\"x\\\\y\\z\""), {QStringLiteral("q\"x\\y\\z")}},
        TokenCase{"trailing backslash inside double quotes", QStringLiteral("\"ab\\"), {QStringLiteral("ab\\")}},
        TokenCase{"quoted parts join their neighbours", QStringLiteral("a\"b c\"d'e f'g"),
                  {QStringLiteral("ab cde fg")}},
        TokenCase{"single quote inside double quotes", QStringLiteral("\"it's\""), {QStringLiteral("it's")}},
        TokenCase{"double quote inside single quotes", QStringLiteral("'say \"hi\"'"),
                  {QStringLiteral("say \"hi\"")}},
        TokenCase{"empty quotes alone give nothing", QStringLiteral("a \"\" '' b"),
                  {QStringLiteral("a"), QStringLiteral("b")}},
        TokenCase{"empty quotes after text", QStringLiteral("title=\"\""), {QStringLiteral("title=")}},
        TokenCase{"unterminated quote keeps the rest", QStringLiteral("ffmpeg 'abc def \n "),
                  {QStringLiteral("ffmpeg"), QStringLiteral("abc def \n ")}},
        TokenCase{"unicode white space separates",
                  QStringLiteral("a\u00A0b\u2003c\u3000d\u0085e\u2028f\u2029g\vh\fi\rj\u1680k\u202Fl\u205Fm"),
                  {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"),
                   QStringLiteral("e"), QStringLiteral("f"), QStringLiteral("g"), QStringLiteral("h"),
                   QStringLiteral("i"), QStringLiteral("j"), QStringLiteral("k"), QStringLiteral("l"),
                   QStringLiteral("m")}},
        TokenCase{"zero-width space is not white space", QStringLiteral("a\u200Bb"), {QStringLiteral("a\u200Bb")}},
        TokenCase{"carriage return and line feed separate", QStringLiteral("a\r\nb"),
                  {QStringLiteral("a"), QStringLiteral("b")}},
        TokenCase{"a quote with a combining mark is a letter", QStringLiteral("'\u0301ab c"),
                  {QStringLiteral("'\u0301ab"), QStringLiteral("c")}},
        TokenCase{"a backslash with a combining mark is a letter", QStringLiteral("\\\u0301 x"),
                  {QStringLiteral("\\\u0301"), QStringLiteral("x")}},
        TokenCase{"escape takes a whole character", QStringLiteral("\\e\u0301x"), {QStringLiteral("e\u0301x")}},
        TokenCase{"emoji and flags pass unchanged",
                  QStringLiteral("\U0001F1E9\U0001F1EA \U0001F468\u200D\U0001F469\u200D\U0001F467 caf\u00E9 \u6771\u4EAC"),
                  {QStringLiteral("\U0001F1E9\U0001F1EA"), QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"),
                   QStringLiteral("caf\u00E9"), QStringLiteral("\u6771\u4EAC")}}),
    [](const auto &info) { return std::to_string(info.index); });

struct BuildCase {
    const char *name;
    QString script;
    QString input;
    QString base;
    QStringList arguments;                    // when accepted
    std::optional<TemplateError::Case> error; // when refused
    QString token = {};                       // unknownPlaceholder's token
};

class BuildArguments : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildArguments, AcceptsOrRefuses)
{
    const BuildCase &c = GetParam();
    if (!c.error) {
        EXPECT_EQ(ConvertRunner::buildArguments(c.script, c.input, c.base), c.arguments) << c.name;
        return;
    }
    const auto error = rejection(c.script, c.input, c.base);
    ASSERT_TRUE(error) << c.name;
    EXPECT_EQ(error->kind(), *c.error) << c.name;
    if (*c.error == TemplateError::Case::unknownPlaceholder) {
        EXPECT_EQ(error->token(), c.token) << c.name;
    }
}

const QString in = QStringLiteral("/m/in.wav");
const QString out = QStringLiteral("/m/.tmp-x");

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildArguments,
    ::testing::Values(
        BuildCase{"only ffmpeg is an empty list", QStringLiteral("  ffmpeg \n"), in, out, {}, std::nullopt},
        BuildCase{"empty script", QString(), in, out, {}, TemplateError::Case::notFFmpeg},
        BuildCase{"white space only", QStringLiteral(" \t\n\u00A0"), in, out, {}, TemplateError::Case::notFFmpeg},
        BuildCase{"capitalised program", QStringLiteral("FFmpeg -i {input}"), in, out, {}, TemplateError::Case::notFFmpeg},
        BuildCase{"windows program name", QStringLiteral("ffmpeg.exe -i {input}"), in, out, {}, TemplateError::Case::notFFmpeg},
        BuildCase{"quoted program is accepted", QStringLiteral("'ffmpeg' -y"), in, out, {QStringLiteral("-y")}, std::nullopt},
        BuildCase{"placeholder twice in a token", QStringLiteral("ffmpeg {input}|{input}"), in, out,
                  {in + u'|' + in}, std::nullopt},
        BuildCase{"placeholder inside other text", QStringLiteral("ffmpeg x={output_base}.wav"), in, out,
                  {QStringLiteral("x=") + out + QStringLiteral(".wav")}, std::nullopt},
        BuildCase{"path with spaces, quotes and backslashes stays one argument",
                  QStringLiteral("ffmpeg -i {input}"), QStringLiteral("/m/a \"b\" 'c' \\d.wav"), out,
                  {QStringLiteral("-i"), QStringLiteral("/m/a \"b\" 'c' \\d.wav")}, std::nullopt},
        BuildCase{"upper-case placeholder", QStringLiteral("ffmpeg {INPUT}"), in, out, {},
                  TemplateError::Case::unknownPlaceholder, QStringLiteral("{INPUT}")},
        BuildCase{"spaced placeholder", QStringLiteral("ffmpeg '{ input }'"), in, out, {},
                  TemplateError::Case::unknownPlaceholder, QStringLiteral("{ input }")},
        BuildCase{"lone closing brace", QStringLiteral("ffmpeg a}"), in, out, {},
                  TemplateError::Case::unknownPlaceholder, QStringLiteral("a}")},
        BuildCase{"brace in the source path", QStringLiteral("ffmpeg -i {input}"), QStringLiteral("/m/{x}.wav"), out, {},
                  TemplateError::Case::unknownPlaceholder, QStringLiteral("{input}")},
        BuildCase{"brace in the output path", QStringLiteral("ffmpeg {output_base}.wav"), in, QStringLiteral("/m/}"), {},
                  TemplateError::Case::unknownPlaceholder, QStringLiteral("{output_base}.wav")},
        BuildCase{"source path spelling a placeholder is refused, not rewritten",
                  QStringLiteral("ffmpeg -i {input}"), QStringLiteral("/m/{output_base}.wav"), out, {},
                  TemplateError::Case::unknownPlaceholder, QStringLiteral("{input}")},
        BuildCase{"quoted line feed", QStringLiteral("ffmpeg -metadata 'a\nb'"), in, out, {},
                  TemplateError::Case::controlCharacters},
        BuildCase{"quoted carriage return", QStringLiteral("ffmpeg \"a\rb\""), in, out, {},
                  TemplateError::Case::controlCharacters},
        BuildCase{"escaped line feed", QStringLiteral("ffmpeg a\\\nb"), in, out, {}, TemplateError::Case::controlCharacters},
        BuildCase{"line feed from a path", QStringLiteral("ffmpeg -i {input}"), QStringLiteral("/m/a\nb.wav"), out, {},
                  TemplateError::Case::controlCharacters},
        BuildCase{"unquoted line feed separates", QStringLiteral("ffmpeg -metadata a\nb"), in, out,
                  {QStringLiteral("-metadata"), QStringLiteral("a"), QStringLiteral("b")}, std::nullopt},
        BuildCase{"a tab inside quotes passes", QStringLiteral("ffmpeg 'a\tb'"), in, out, {QStringLiteral("a\tb")}, std::nullopt},
        BuildCase{"unicode in tokens and paths",
                  QStringLiteral("ffmpeg -i {input} -metadata title='Caf\u00E9 \u6771\u4EAC \U0001F3B5'"),
                  QStringLiteral("/m/\u00DCn\u00EFc\u00F8d\u00E9 \U0001F3B5.flac"), out,
                  {QStringLiteral("-i"), QStringLiteral("/m/\u00DCn\u00EFc\u00F8d\u00E9 \U0001F3B5.flac"),
                   QStringLiteral("-metadata"), QStringLiteral("title=Caf\u00E9 \u6771\u4EAC \U0001F3B5")},
                  std::nullopt}),
    [](const auto &info) { return std::to_string(info.index); });

TEST(ScriptTemplate, TheFirstErrorEndsTheBuild)
{
    // A placeholder error comes before a later control-character error.
    const auto error = rejection(QStringLiteral("ffmpeg {bad} 'a\nb'"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), TemplateError::Case::unknownPlaceholder);
    EXPECT_EQ(error->token(), QStringLiteral("{bad}"));
}

TEST(ScriptTemplate, MeasuredPlaceholdersExistOnlyWhenGiven)
{
    // Without a measurement every measured placeholder is unknown, as any other name is; with
    // one, each is replaced (and a name that merely starts like one is still unknown).
    const vorlik::convert::Loudness source{-22.04, -8.7, 6.3, -32.5};
    const auto measured = vorlik::convert::LoudnessPlaceholders::of(source, 8.04, -1.3);
    const struct {
        QString token;
        QString replaced; // empty: unknown even with the measurement
    } cases[] = {
        {QStringLiteral("volume={gain}dB"), QStringLiteral("volume=8.04dB")},
        {QStringLiteral("measured_I={measured_i}"), QStringLiteral("measured_I=-22.04")},
        {QStringLiteral("measured_TP={measured_tp}"), QStringLiteral("measured_TP=-8.70")},
        {QStringLiteral("measured_LRA={measured_lra}"), QStringLiteral("measured_LRA=6.30")},
        {QStringLiteral("measured_thresh={measured_thresh}"), QStringLiteral("measured_thresh=-32.50")},
        {QStringLiteral("points={limit}/{limit}"), QStringLiteral("points=-1.30/-1.30")},
        {QStringLiteral("{gain_db}"), QString()},
        {QStringLiteral("{GAIN}"), QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.token.toStdString());
        const QString script = QStringLiteral("ffmpeg -af ") + c.token;
        const auto plain = rejection(script);
        ASSERT_TRUE(plain);
        EXPECT_EQ(plain->description(), QStringLiteral("The script uses an unsupported placeholder in '") + c.token
                                            + QStringLiteral("'."));
        if (c.replaced.isEmpty()) {
            EXPECT_THROW(ConvertRunner::buildArguments(script, takeInput, takeBase, measured), TemplateError);
        } else {
            EXPECT_EQ(ConvertRunner::buildArguments(script, takeInput, takeBase, measured),
                      (QStringList{QStringLiteral("-af"), c.replaced}));
        }
    }
}
