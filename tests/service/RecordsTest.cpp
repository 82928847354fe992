// Strict decoding, equality and ordered writing of the service's records.
#include "service/JsonFields.h"
#include "service/JsonReader.h"
#include "service/Preset.h"
#include "service/PresetsPayload.h"
#include "service/Session.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <cmath>
#include <functional>
#include <ostream>


using namespace vorlik::service;

namespace {

QByteArray presetJSON(const QByteArray &extraOrOverride = {})
{
    // A complete preset; `extraOrOverride` lands after the standard members (a later duplicate key
    // replaces the earlier one in Qt's parser, so tests can override a single member).
    QByteArray body = R"({"id":"p1","name":"Podcast","description":"Speech to AAC","suffix":"_pod",)"
                      R"("output_ext":"m4a","kind":"audio","max_channels":2,"command":"-i {input} {output}",)"
                      R"("hint":"Mono is fine","summary":"AAC 96k")";
    if (!extraOrOverride.isEmpty())
        body += ',' + extraOrOverride;
    return body + '}';
}

QByteArray payloadWith(const QByteArray &presets, const QByteArray &head = R"("version":3,"generated_at":"2026-12-01T10:00:00Z","note":"n")")
{
    return '{' + head + R"(,"presets":)" + presets + '}';
}

QString decodeFailure(const std::function<void()> &decode)
{
    try {
        decode();
    } catch (const DecodingError &error) {
        return error.description();
    }
    return QStringLiteral("<decoded>");
}

const QByteArray sessionBody =
    R"({"access_token":"at","refresh_token":"rt","installation_id":"inst","client_id":"client","session_id":"sid"})";

} // namespace

// ---------------------------------------------------------------------------------------------
// Session

TEST(SessionDecoding, readsEveryMemberAndIgnoresExtraKeys)
{
    const Session session = Session::fromJSON(
        R"({"expires_in":3600,"access_token":"at","refresh_token":"","installation_id":"inst",)"
        R"("client_id":"Ünïcode ✓","session_id":"sid","nested":{"x":[1,2,null]}})");
    EXPECT_EQ(session.accessToken, "at");
    EXPECT_EQ(session.refreshToken, ""); // empty is a value: the store treats it as "cannot refresh"
    EXPECT_EQ(session.installationId, "inst");
    EXPECT_EQ(session.clientId, QStringLiteral("Ünïcode ✓"));
    EXPECT_EQ(session.sessionId, "sid");
}

struct FailureCase {
    const char *name;
    QByteArray body;
    QString description; // exact, or a prefix when it ends with "…"
};

void expectDescription(const QString &actual, const QString &expected)
{
    if (expected.endsWith(QStringLiteral("…")))
        EXPECT_TRUE(actual.startsWith(expected.chopped(1))) << actual.toStdString();
    else
        EXPECT_EQ(actual, expected);
}

TEST(SessionDecoding, failsWithTheFirstProblemMet)
{
    const FailureCase cases[] = {
        {"missing session_id",
         R"({"access_token":"a","refresh_token":"r","installation_id":"i","client_id":"c"})",
         R"(keyNotFound: no value for key "session_id")"},
        {"null access_token",
         R"({"access_token":null,"refresh_token":"r","installation_id":"i","client_id":"c","session_id":"s"})",
         R"(valueNotFound: "access_token" is null, expected a string)"},
        {"number where a string belongs",
         R"({"access_token":"a","refresh_token":"r","installation_id":7,"client_id":"c","session_id":"s"})",
         R"(typeMismatch: "installation_id" is a number, expected a string)"},
        {"boolean where a string belongs",
         R"({"access_token":"a","refresh_token":"r","installation_id":"i","client_id":true,"session_id":"s"})",
         R"(typeMismatch: "client_id" is a boolean, expected a string)"},
        {"keys are case-sensitive",
         R"({"Access_Token":"a","refresh_token":"r","installation_id":"i","client_id":"c","session_id":"s"})",
         R"(keyNotFound: no value for key "access_token")"},
        {"first of two problems in member order",
         R"({"access_token":"a","installation_id":"i","client_id":5,"session_id":"s"})",
         R"(keyNotFound: no value for key "refresh_token")"},
        {"array at top level", "[" + sessionBody + "]",
         "typeMismatch: the top level is an array, expected an object"},
        {"number at top level", "42", "typeMismatch: the top level is a number, expected an object"},
        {"null at top level", "null", "typeMismatch: the top level is null, expected an object"},
        {"empty body", "", "dataCorrupted: the data is empty, expected a JSON object"},
        {"truncated", sessionBody.left(40), "dataCorrupted: the data is not valid JSON (…"},
        {"garbage after the object", sessionBody + "x", "dataCorrupted: the data is not valid JSON (garbage at the end of the document…"},
        {"non-UTF-8 inside a string",
         QByteArray(R"({"access_token":"a)") + "\xff\xfe" + R"(","refresh_token":"r","installation_id":"i","client_id":"c","session_id":"s"})",
         "dataCorrupted: the data is not valid JSON (invalid UTF8 string…"},
        {"NUL bytes", QByteArray("\0\0\0", 3), "dataCorrupted: the data is not valid JSON (…"},
    };
    for (const FailureCase &test : cases) {
        SCOPED_TRACE(test.name);
        expectDescription(decodeFailure([&] { Session::fromJSON(test.body); }), test.description);
    }
}

TEST(SessionWriting, writesTheMembersInOrder)
{
    const Session session = Session::fromJSON(sessionBody);
    EXPECT_EQ(session.toJSON(), sessionBody);
}

// ---------------------------------------------------------------------------------------------
// PresetsPayload and Preset

TEST(PresetsDecoding, readsEveryPresetMemberInDocumentOrder)
{
    const PresetsPayload payload = PresetsPayload::fromJSON(
        payloadWith('[' + presetJSON() + ',' + presetJSON(R"("id":"p2","unknown":{"deep":[1,1e999]})") + ']'));
    EXPECT_EQ(payload.version, 3);
    EXPECT_EQ(payload.generatedAt, "2026-12-01T10:00:00Z");
    EXPECT_EQ(payload.note, "n");
    ASSERT_EQ(payload.presets.size(), 2);
    const Preset &first = payload.presets.at(0);
    EXPECT_EQ(first.id, "p1");
    EXPECT_EQ(first.name, "Podcast");
    EXPECT_EQ(first.description, "Speech to AAC");
    EXPECT_EQ(first.suffix, "_pod");
    EXPECT_EQ(first.outputExt, "m4a");
    EXPECT_EQ(first.kind, "audio");
    EXPECT_EQ(first.maxChannels, std::optional<qint64>(2));
    EXPECT_EQ(first.command, "-i {input} {output}");
    EXPECT_EQ(first.hint, std::optional<QString>("Mono is fine"));
    EXPECT_EQ(first.summary, std::optional<QString>("AAC 96k"));
    EXPECT_EQ(payload.presets.at(1).id, "p2");
}

TEST(PresetsDecoding, optionalMembersAreAbsentWhenMissingOrNull)
{
    const QByteArray withoutOptionals =
        R"({"id":"a","name":"n","description":"d","suffix":"s","output_ext":"mp4","kind":"video","command":"c"})";
    const QByteArray withNulls =
        R"({"id":"b","name":"n","description":"d","suffix":"s","output_ext":"mp4","kind":"video","command":"c",)"
        R"("max_channels":null,"hint":null,"summary":null})";
    const PresetsPayload payload = PresetsPayload::fromJSON(payloadWith('[' + withoutOptionals + ',' + withNulls + ']'));
    ASSERT_EQ(payload.presets.size(), 2);
    for (const Preset &preset : payload.presets) {
        SCOPED_TRACE(preset.id.toStdString());
        EXPECT_FALSE(preset.maxChannels.has_value());
        EXPECT_FALSE(preset.hint.has_value());
        EXPECT_FALSE(preset.summary.has_value());
    }
}

TEST(PresetsDecoding, integersAcceptWholeNumbersInRange)
{
    struct Case {
        const char *literal;
        qint64 value;
    };
    const Case cases[] = {
        {"0", 0},
        {"-1", -1},
        {"1.0", 1},
        {"2e0", 2},
        {"-0", 0},
        {"9007199254740993", Q_INT64_C(9007199254740993)}, // above 2^53: must stay exact
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.literal);
        const QByteArray literal(test.literal);
        const PresetsPayload payload = PresetsPayload::fromJSON(payloadWith(
            '[' + presetJSON(R"("max_channels":)" + literal) + ']',
            R"("version":)" + literal + R"(,"generated_at":"g","note":"n")"));
        EXPECT_EQ(payload.version, test.value);
        EXPECT_EQ(payload.presets.at(0).maxChannels, std::optional<qint64>(test.value));
    }
}

TEST(PresetsDecoding, failsWithTheFirstProblemMet)
{
    const QByteArray good = presetJSON();
    const FailureCase cases[] = {
        // The document's own members.
        {"missing note", R"({"version":1,"generated_at":"g","presets":[]})", R"(keyNotFound: no value for key "note")"},
        {"missing version", R"({"generated_at":"g","note":"n","presets":[]})", R"(keyNotFound: no value for key "version")"},
        {"version as string", R"({"version":"1","generated_at":"g","note":"n","presets":[]})",
         R"(typeMismatch: "version" is a string, expected an integer)"},
        {"version 1.5", R"({"version":1.5,"generated_at":"g","note":"n","presets":[]})",
         R"(dataCorrupted: "version" is 1.5, which is not an integer)"},
        {"version 1e30", R"({"version":1e30,"generated_at":"g","note":"n","presets":[]})",
         R"(dataCorrupted: "version" is 1e+30, which does not fit a signed 64-bit integer)"},
        {"version 2^63", R"({"version":9223372036854775808,"generated_at":"g","note":"n","presets":[]})",
         R"(dataCorrupted: "version" is 9223372036854776000, which does not fit a signed 64-bit integer)"},
        {"version -1e300", R"({"version":-1e300,"generated_at":"g","note":"n","presets":[]})",
         R"(dataCorrupted: "version" is -1e+300, which does not fit a signed 64-bit integer)"},
        {"version 1e400", R"({"version":1e400,"generated_at":"g","note":"n","presets":[]})",
         R"(dataCorrupted: "version" is a number beyond the range of a 64-bit float)"},
        {"null presets", R"({"version":1,"generated_at":"g","note":"n","presets":null})",
         R"(valueNotFound: "presets" is null, expected an array)"},
        {"presets as object", payloadWith("{}"), R"(typeMismatch: "presets" is an object, expected an array)"},
        // One bad element fails the whole list, and the path names it.
        {"max_channels as string", payloadWith('[' + presetJSON(R"("max_channels":"2")") + ']'),
         R"(typeMismatch: "presets[0].max_channels" is a string, expected an integer)"},
        {"max_channels 1.5 in the third preset",
         payloadWith('[' + good + ',' + good + ',' + presetJSON(R"("max_channels":1.5)") + ']'),
         R"(dataCorrupted: "presets[2].max_channels" is 1.5, which is not an integer)"},
        {"max_channels as array", payloadWith('[' + presetJSON(R"("max_channels":[2])") + ']'),
         R"(typeMismatch: "presets[0].max_channels" is an array, expected an integer)"},
        {"hint as number", payloadWith('[' + good + ',' + presetJSON(R"("hint":5)") + ']'),
         R"(typeMismatch: "presets[1].hint" is a number, expected a string)"},
        {"null command", payloadWith('[' + presetJSON(R"("command":null)") + ']'),
         R"(valueNotFound: "presets[0].command" is null, expected a string)"},
        {"missing output_ext",
         payloadWith(R"([{"id":"a","name":"n","description":"d","suffix":"s","kind":"k","command":"c"}])"),
         R"(keyNotFound: no value for key "presets[0].output_ext")"},
        {"misspelled outputExt",
         payloadWith(R"([{"id":"a","name":"n","description":"d","suffix":"s","outputExt":"x","kind":"k","command":"c"}])"),
         R"(keyNotFound: no value for key "presets[0].output_ext")"},
        {"element is a string", payloadWith(R"(["p1"])"), R"(typeMismatch: "presets[0]" is a string, expected an object)"},
        {"element is null", payloadWith('[' + good + ",null]"), R"(typeMismatch: "presets[1]" is null, expected an object)"},
        // Not a document at all.
        {"array at top level", '[' + payloadWith("[]") + ']', "typeMismatch: the top level is an array, expected an object"},
        {"truncated", payloadWith('[' + good + ']').chopped(10), "dataCorrupted: the data is not valid JSON (…"},
        {"non-UTF-8 in a preset name", payloadWith('[' + presetJSON(QByteArray(R"("name":"caf)") + "\xe9\"") + ']'),
         "dataCorrupted: the data is not valid JSON (invalid UTF8 string…"},
        {"deeply nested extra member", R"({"extra":)" + QByteArray(100000, '['), "dataCorrupted: the data is not valid JSON (…"},
    };
    for (const FailureCase &test : cases) {
        SCOPED_TRACE(test.name);
        expectDescription(decodeFailure([&] { PresetsPayload::fromJSON(test.body); }), test.description);
    }
}

TEST(PresetsDecoding, loudnessMemberIsReadStrictly)
{
    // Present, absent and null decode; anything else fails the whole list, naming the member.
    struct Case {
        const char *name;
        QByteArray member; // after the standard members; empty for none
        std::optional<LoudnessGoal> decoded;
        const char *failure; // nullptr when it decodes
    };
    const Case cases[] = {
        {"present", R"("loudness":{"target":-14,"ceiling":-1.0,"extra":true})", LoudnessGoal{-14, -1}, nullptr},
        {"fractional", R"("loudness":{"target":-23.5,"ceiling":-2})", LoudnessGoal{-23.5, -2}, nullptr},
        {"absent", {}, std::nullopt, nullptr},
        {"null", R"("loudness":null)", std::nullopt, nullptr},
        {"a number", R"("loudness":-14)", std::nullopt, R"(typeMismatch: "presets[0].loudness" is a number, expected an object)"},
        {"no target", R"("loudness":{"ceiling":-1})", std::nullopt, R"(keyNotFound: no value for key "presets[0].loudness.target")"},
        {"null ceiling", R"("loudness":{"target":-14,"ceiling":null})", std::nullopt,
         R"(valueNotFound: "presets[0].loudness.ceiling" is null, expected a number)"},
        {"target as string", R"("loudness":{"target":"-14","ceiling":-1})", std::nullopt,
         R"(typeMismatch: "presets[0].loudness.target" is a string, expected a number)"},
        // Goals no conversion can meet are refused rather than chased.
        {"target above 0 LUFS", R"("loudness":{"target":6,"ceiling":-1})", std::nullopt,
         R"(dataCorrupted: "presets[0].loudness.target" is 6, outside -70 to 0 LUFS)"},
        {"target below -70 LUFS", R"("loudness":{"target":-1000,"ceiling":-1})", std::nullopt,
         R"(dataCorrupted: "presets[0].loudness.target" is -1000, outside -70 to 0 LUFS)"},
        {"ceiling above 0 dBTP", R"("loudness":{"target":-14,"ceiling":5})", std::nullopt,
         R"(dataCorrupted: "presets[0].loudness.ceiling" is 5, outside -20 to 0 dBTP)"},
        {"ceiling below -20 dBTP", R"("loudness":{"target":-30,"ceiling":-20.5})", std::nullopt,
         R"(dataCorrupted: "presets[0].loudness.ceiling" is -20.5, outside -20 to 0 dBTP)"},
        {"ceiling not above the target", R"("loudness":{"target":-10,"ceiling":-10})", std::nullopt,
         R"(dataCorrupted: "presets[0].loudness.ceiling" is -10, not above the target of -10 LUFS)"},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        const QByteArray body = payloadWith('[' + presetJSON(test.member) + ']');
        if (test.failure) {
            expectDescription(decodeFailure([&] { PresetsPayload::fromJSON(body); }), test.failure);
            continue;
        }
        const Preset preset = PresetsPayload::fromJSON(body).presets.at(0);
        EXPECT_EQ(preset.loudness, test.decoded);
        // Written out and read back, it is the same preset.
        EXPECT_EQ(PresetsPayload::fromJSON(payloadWith('[' + preset.toJSON() + ']')).presets.at(0), preset);
    }
}

TEST(PresetsDecoding, hugeBodiesDecodeOrFailCleanly)
{
    // 20000 presets (several MB) decode in full and in order.
    QByteArray list("[");
    for (int index = 0; index < 20000; ++index) {
        if (index > 0)
            list += ',';
        list += presetJSON(R"("id":"p)" + QByteArray::number(index) + '"');
    }
    list += ']';
    const PresetsPayload many = PresetsPayload::fromJSON(payloadWith(list));
    ASSERT_EQ(many.presets.size(), 20000);
    EXPECT_EQ(many.presets.last().id, "p19999");

    // A 32 MiB note is still just a note.
    const QByteArray bigNote(32 * 1024 * 1024, 'x');
    const PresetsPayload big =
        PresetsPayload::fromJSON(payloadWith("[]", R"("version":1,"generated_at":"g","note":")" + bigNote + '"'));
    EXPECT_EQ(big.note.size(), bigNote.size());

    // The same body with its last byte cut off fails with a description, not a crash.
    const QByteArray cut = payloadWith(list).chopped(1);
    expectDescription(decodeFailure([&] { PresetsPayload::fromJSON(cut); }),
                      "dataCorrupted: the data is not valid JSON (…");
    // And 32 MiB of bytes that are not JSON at all.
    expectDescription(decodeFailure([&] { PresetsPayload::fromJSON(QByteArray(32 * 1024 * 1024, '\xff')); }),
                      "dataCorrupted: the data is not valid JSON (…");
}

// ---------------------------------------------------------------------------------------------
// Numbers beyond a double

TEST(JsonReader, OnlyNumbersBeyondADoubleAreReadDifferently)
{
    const double infinity = std::numeric_limits<double>::infinity();
    const QJsonArray read =
        JsonReader::read(R"(["a\"1e999\\",-1e999,{"k":[1e-999,-0,2.5e308]},"\u0000number-1234+"])").array();
    ASSERT_EQ(read.size(), 4);
    EXPECT_EQ(read.at(0).toString(), QStringLiteral("a\"1e999\\")); // strings are left as they are
    EXPECT_EQ(read.at(1).toDouble(), -infinity);
    const QJsonArray inner = read.at(2).toObject().value(QStringLiteral("k")).toArray();
    EXPECT_EQ(inner.at(0).toDouble(), 0.0);
    EXPECT_EQ(inner.at(1).toDouble(), 0.0);
    EXPECT_EQ(inner.at(2).toDouble(), infinity);
    EXPECT_EQ(read.at(3).toString(), QStringLiteral("\u0000number-1234+")); // not a marker of this read

    // As deep as Qt's parser goes.
    const QByteArray deep = QByteArray(1000, '[') + "1e999" + QByteArray(1000, ']');
    QJsonValue innermost = JsonReader::read(deep).array().at(0);
    for (int level = 1; level < 1000; ++level)
        innermost = innermost.toArray().at(0);
    EXPECT_EQ(innermost.toDouble(), infinity);

    // Anything else wrong still fails, with the error of the document as sent.
    for (const QByteArray &broken : {QByteArray("[01e999]"), QByteArray("[1e999x]"), QByteArray("[1e999,]"),
                                     QByteArray("[1e999"), QByteArray("[1e999,NaN]"), QByteArray("{1e999:1}")}) {
        SCOPED_TRACE(broken.toStdString());
        QJsonParseError qtError;
        QJsonDocument::fromJson(broken, &qtError);
        QJsonParseError error;
        EXPECT_TRUE(JsonReader::read(broken, &error).isNull());
        EXPECT_EQ(error.error, qtError.error);
        EXPECT_EQ(error.offset, qtError.offset);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

namespace {
Preset fullPreset()
{
    return Preset{QStringLiteral("p1"), QStringLiteral("Podcast"), QStringLiteral("Speech"), QStringLiteral("_pod"),
                  QStringLiteral("m4a"), QStringLiteral("audio"), 2, QStringLiteral("-i {input} {output}"),
                  QStringLiteral("hint"), QStringLiteral("summary")};
}
} // namespace

TEST(PresetWriting, writesTheListedKeyOrderAndLeavesAbsentOptionalsOut)
{
    EXPECT_EQ(fullPreset().toJSON(),
              QByteArray(R"({"id":"p1","name":"Podcast","description":"Speech","suffix":"_pod","kind":"audio",)"
                         R"("command":"-i {input} {output}","output_ext":"m4a","max_channels":2,"hint":"hint",)"
                         R"("summary":"summary"})"));
    Preset bare = fullPreset();
    bare.maxChannels.reset();
    bare.hint.reset();
    bare.summary.reset();
    EXPECT_EQ(bare.toJSON(),
              QByteArray(R"({"id":"p1","name":"Podcast","description":"Speech","suffix":"_pod","kind":"audio",)"
                         R"("command":"-i {input} {output}","output_ext":"m4a"})"));
}

TEST(RecordWriting, keepsAnUnpairedSurrogateThatTheDecoderLetThrough)
{
    // Found by fuzzing: "\udfb5" decodes to a lone surrogate, which UTF-8 cannot carry; written
    // as UTF-8 it came back as a replacement character.
    const QByteArray json = R"({"access_token":"a\u15e9y\udfb5\n","refresh_token":"","installation_id":"\"",)"
                            R"("client_id":"c/","session_id":"\ud83c"})";
    const Session session = Session::fromJSON(json);
    ASSERT_EQ(session.accessToken.size(), 5);
    EXPECT_TRUE(session.accessToken.at(3).isLowSurrogate());
    const QByteArray written = session.toJSON();
    EXPECT_TRUE(written.contains(R"("access_token":"a\u15e9y\udfb5\u000a")")) << written.toStdString();
    const Session again = Session::fromJSON(written);
    EXPECT_EQ(again.accessToken, session.accessToken);
    EXPECT_EQ(again.sessionId, session.sessionId);
    EXPECT_EQ(again.installationId, QStringLiteral("\""));
    EXPECT_EQ(again.clientId, QStringLiteral("c/"));
}

TEST(RecordWriting, roundTripsThroughTheDecoder)
{
    Preset tricky = fullPreset();
    tricky.name = QStringLiteral("\"quoted\" \\ back\u2028slash \x1f 🎧");
    tricky.command = QStringLiteral("-af \"volume=2\" C:\\path\n\t\x01 ✓ 🎧");
    tricky.maxChannels = -3;
    Preset bare = fullPreset();
    bare.id = "p2";
    bare.maxChannels.reset();
    bare.hint.reset();
    PresetsPayload payload;
    payload.version = std::numeric_limits<qint64>::min();
    payload.generatedAt = "g";
    payload.note = QStringLiteral("ünïcode");
    payload.presets = {tricky, bare};

    const QByteArray written = payload.toJSON();
    EXPECT_TRUE(written.startsWith(R"({"version":-9223372036854775808,"note":")")) << written.toStdString();
    EXPECT_TRUE(written.endsWith(R"(}],"generated_at":"g"})")) << written.toStdString();
    const PresetsPayload again = PresetsPayload::fromJSON(written);
    EXPECT_EQ(again.version, payload.version);
    EXPECT_EQ(again.generatedAt, payload.generatedAt);
    EXPECT_EQ(again.note, payload.note);
    EXPECT_EQ(again.presets, payload.presets);

    const Session session{QStringLiteral("a\"t"), QString(), QStringLiteral("i\n"), QStringLiteral("c ✓"), QStringLiteral("s")};
    EXPECT_EQ(Session::fromJSON(session.toJSON()).toJSON(), session.toJSON());
}

TEST(PresetEquality, everyMemberCounts)
{
    const Preset base = fullPreset();
    EXPECT_EQ(base, fullPreset());

    struct Change {
        const char *name;
        std::function<void(Preset &)> apply;
    };
    const Change changes[] = {
        {"id", [](Preset &p) { p.id = "p2"; }},
        {"name", [](Preset &p) { p.name = "Other"; }},
        {"description", [](Preset &p) { p.description = "Other"; }},
        {"suffix", [](Preset &p) { p.suffix = "_x"; }},
        {"outputExt", [](Preset &p) { p.outputExt = "mp3"; }},
        {"kind", [](Preset &p) { p.kind = "video"; }},
        {"maxChannels value", [](Preset &p) { p.maxChannels = 6; }},
        {"maxChannels absent", [](Preset &p) { p.maxChannels.reset(); }},
        {"command", [](Preset &p) { p.command = "-i {input}"; }},
        {"hint value", [](Preset &p) { p.hint = "other"; }},
        {"hint absent", [](Preset &p) { p.hint.reset(); }},
        {"summary value", [](Preset &p) { p.summary = "other"; }},
        {"summary absent", [](Preset &p) { p.summary.reset(); }},
        {"summary empty vs absent", [](Preset &p) { p.summary = QString(); }},
        {"loudness present", [](Preset &p) { p.loudness = LoudnessGoal{-14, -1}; }},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.name);
        Preset changed = base;
        change.apply(changed);
        EXPECT_FALSE(changed == base);
        EXPECT_TRUE(changed != base);
    }

    // Both sides lacking an optional are equal.
    Preset left = base, right = base;
    left.hint.reset();
    right.hint.reset();
    EXPECT_EQ(left, right);
}
