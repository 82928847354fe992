#include "service/JsonFields.h"
#include "service/JsonReader.h"
#include "service/Preset.h"
#include "service/PresetsPayload.h"
#include "service/Session.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

#include <functional>
#include <tuple>

using namespace vorlik::service;
using namespace Qt::StringLiterals;

namespace {

// A complete preset; `extra` lands after the standard members (a later duplicate key replaces the
// earlier one in Qt's parser, so a test can override a single member).
QByteArray presetJSON(const QByteArray &extra = {})
{
    return R"({"id":"p1","name":"Podcast","description":"Speech to AAC","suffix":"_pod","output_ext":"m4a",)"
           R"("kind":"audio","max_channels":2,"command":"-i {input} {output}","hint":"Mono is fine","summary":"AAC 96k")"
        + (extra.isEmpty() ? QByteArray() : ',' + extra) + '}';
}

QByteArray payloadWith(const QByteArray &presets, const QByteArray &head = R"("version":3,"generated_at":"2026-12-01T10:00:00Z","note":"n")")
{
    return '{' + head + R"(,"presets":)" + presets + '}';
}

Preset fullPreset()
{
    return Preset{"p1", "Podcast", "Speech to AAC", "_pod", "m4a", "audio", 2, "-i {input} {output}", QStringLiteral("Mono is fine"),
                  QStringLiteral("AAC 96k")};
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

// `expected` is exact, or a prefix when it ends with "…".
void expectDescription(const QString &actual, const QString &expected)
{
    if (expected.endsWith(QStringLiteral("…")))
        EXPECT_TRUE(actual.startsWith(expected.chopped(1))) << actual.toStdString();
    else
        EXPECT_EQ(actual, expected);
}

const QByteArray sessionBody =
    R"({"access_token":"at","refresh_token":"rt","installation_id":"inst","client_id":"client","session_id":"sid"})";

} // namespace

TEST(Records, decodeEveryMemberIgnoringExtraKeysAndWriteThemBackInOrderHoweverLongTheList)
{
    const Session session = Session::fromJSON(R"({"expires_in":3600,"access_token":"at","refresh_token":"","installation_id":"inst",)"
                                              R"("client_id":"Ünïcode ✓","session_id":"sid","nested":{"x":[1,2,null]}})");
    EXPECT_EQ(session.toJSON(), QByteArray(R"({"access_token":"at","refresh_token":"","installation_id":"inst",)"
                                           R"("client_id":"Ünïcode ✓","session_id":"sid"})"));
    EXPECT_EQ(Session::fromJSON(sessionBody).toJSON(), sessionBody);

    const QByteArray bare = R"({"id":"a","name":"n","description":"d","suffix":"s","output_ext":"mp4","kind":"video","command":"c"})";
    const QByteArray nulls = R"({"id":"a","name":"n","description":"d","suffix":"s","output_ext":"mp4","kind":"video","command":"c",)"
                             R"("max_channels":null,"hint":null,"summary":null,"loudness":null})";
    const PresetsPayload payload = PresetsPayload::fromJSON(
        payloadWith('[' + presetJSON(R"("unknown":{"deep":[1,1e999]})") + ',' + bare + ',' + nulls + ']'));
    EXPECT_EQ(std::tie(payload.version, payload.generatedAt, payload.note), std::tuple(qint64(3), u"2026-12-01T10:00:00Z"_s, u"n"_s));
    const Preset optionalsAbsent{"a", "n", "d", "s", "mp4", "video", std::nullopt, "c", std::nullopt, std::nullopt, std::nullopt};
    EXPECT_EQ(payload.presets, (QList<Preset>{fullPreset(), optionalsAbsent, optionalsAbsent}));
    EXPECT_EQ(fullPreset().toJSON(), QByteArray(R"({"id":"p1","name":"Podcast","description":"Speech to AAC","suffix":"_pod",)"
                                                R"("kind":"audio","command":"-i {input} {output}","output_ext":"m4a",)"
                                                R"("max_channels":2,"hint":"Mono is fine","summary":"AAC 96k"})"));
    EXPECT_EQ(optionalsAbsent.toJSON(),
              QByteArray(R"({"id":"a","name":"n","description":"d","suffix":"s","kind":"video","command":"c","output_ext":"mp4"})"));

    // A long list decodes whole.
    QByteArray list("[");
    for (int index = 0; index < 20000; ++index)
        list += (index > 0 ? "," : "") + presetJSON(R"("id":"p)" + QByteArray::number(index) + '"');
    const PresetsPayload many = PresetsPayload::fromJSON(payloadWith(list + ']'));
    ASSERT_EQ(many.presets.size(), 20000);
    EXPECT_EQ(many.presets.last().id, "p19999");
}

TEST(Records, failWithTheFirstProblemMet)
{
    const QByteArray good = presetJSON();
    const auto session = [](const QByteArray &body) { return [body] { Session::fromJSON(body); }; };
    const auto presets = [](const QByteArray &body) { return [body] { PresetsPayload::fromJSON(body); }; };
    const auto head = [](const QByteArray &members) { return '{' + members + '}'; };
    const std::pair<std::function<void()>, QString> cases[] = {
        {session(R"({"access_token":"a","refresh_token":"r","installation_id":"i","client_id":"c"})"), R"(keyNotFound: no value for key "session_id")"},
        {session(R"({"access_token":null,"refresh_token":"r","installation_id":"i","client_id":"c","session_id":"s"})"), R"(valueNotFound: "access_token" is null, expected a string)"},
        {session(R"({"access_token":"a","refresh_token":"r","installation_id":"i","client_id":true,"session_id":"s"})"), R"(typeMismatch: "client_id" is a boolean, expected a string)"},
        {session(R"({"Access_Token":"a","refresh_token":"r","installation_id":"i","client_id":"c","session_id":"s"})"), R"(keyNotFound: no value for key "access_token")"},
        {session(R"({"access_token":"a","installation_id":"i","client_id":5,"session_id":"s"})"), R"(keyNotFound: no value for key "refresh_token")"},
        {session("[" + sessionBody + "]"), "typeMismatch: the top level is an array, expected an object"},
        {session("42"), "typeMismatch: the top level is a number, expected an object"},
        {session("null"), "typeMismatch: the top level is null, expected an object"},
        {session(""), "dataCorrupted: the data is empty, expected a JSON object"},
        {session(sessionBody.left(40)), "dataCorrupted: the data is not valid JSON (…"},
        {session(sessionBody + "x"), "dataCorrupted: the data is not valid JSON (garbage at the end of the document…"},
        {session(QByteArray(R"({"access_token":"a)") + "\xff\xfe" + R"(","refresh_token":"r","installation_id":"i","client_id":"c","session_id":"s"})"), "dataCorrupted: the data is not valid JSON (invalid UTF8 string…"},
        {session(QByteArray("\0\0\0", 3)), "dataCorrupted: the data is not valid JSON (…"},
        {presets(head(R"("version":1,"generated_at":"g","presets":[])")), R"(keyNotFound: no value for key "note")"},
        {presets(head(R"("version":"1","generated_at":"g","note":"n","presets":[])")), R"(typeMismatch: "version" is a string, expected an integer)"},
        {presets(head(R"("version":1.5,"generated_at":"g","note":"n","presets":[])")), R"(dataCorrupted: "version" is 1.5, which is not an integer)"},
        {presets(head(R"("version":1e30,"generated_at":"g","note":"n","presets":[])")), R"(dataCorrupted: "version" is 1e+30, which does not fit a signed 64-bit integer)"},
        {presets(head(R"("version":9223372036854775808,"generated_at":"g","note":"n","presets":[])")), R"(dataCorrupted: "version" is 9223372036854776000, which does not fit a signed 64-bit integer)"},
        {presets(head(R"("version":-1e300,"generated_at":"g","note":"n","presets":[])")), R"(dataCorrupted: "version" is -1e+300, which does not fit a signed 64-bit integer)"},
        {presets(head(R"("version":1e400,"generated_at":"g","note":"n","presets":[])")), R"(dataCorrupted: "version" is a number beyond the range of a 64-bit float)"},
        {presets(head(R"("version":1,"generated_at":"g","note":"n","presets":null)")), R"(valueNotFound: "presets" is null, expected an array)"},
        {presets(payloadWith("{}")), R"(typeMismatch: "presets" is an object, expected an array)"},
        // One bad element fails the whole list, and the path names it.
        {presets(payloadWith('[' + good + ',' + good + ',' + presetJSON(R"("max_channels":1.5)") + ']')), R"(dataCorrupted: "presets[2].max_channels" is 1.5, which is not an integer)"},
        {presets(payloadWith('[' + presetJSON(R"("max_channels":[2])") + ']')), R"(typeMismatch: "presets[0].max_channels" is an array, expected an integer)"},
        {presets(payloadWith('[' + good + ',' + presetJSON(R"("hint":5)") + ']')), R"(typeMismatch: "presets[1].hint" is a number, expected a string)"},
        {presets(payloadWith('[' + presetJSON(R"("command":null)") + ']')), R"(valueNotFound: "presets[0].command" is null, expected a string)"},
        {presets(payloadWith(R"([{"id":"a","name":"n","description":"d","suffix":"s","outputExt":"x","kind":"k","command":"c"}])")), R"(keyNotFound: no value for key "presets[0].output_ext")"},
        {presets(payloadWith(R"(["p1"])")), R"(typeMismatch: "presets[0]" is a string, expected an object)"},
        {presets(payloadWith('[' + good + ",null]")), R"(typeMismatch: "presets[1]" is null, expected an object)"},
        {presets(payloadWith('[' + good + ']').chopped(10)), "dataCorrupted: the data is not valid JSON (…"},
        {presets(payloadWith('[' + presetJSON(QByteArray(R"("name":"caf)") + "\xe9\"") + ']')), "dataCorrupted: the data is not valid JSON (invalid UTF8 string…"},
        {presets(R"({"extra":)" + QByteArray(100000, '[')), "dataCorrupted: the data is not valid JSON (…"},
    };
    for (const auto &[decode, description] : cases) {
        SCOPED_TRACE(description.toStdString());
        expectDescription(decodeFailure(decode), description);
    }
}

TEST(Records, integersAcceptWholeNumbersInRangeAndTheLoudnessMemberIsReadStrictly)
{
    const std::pair<const char *, qint64> cases[] = {
        {"0", 0}, {"-1", -1}, {"1.0", 1}, {"2e0", 2}, {"-0", 0},
        {"9007199254740993", Q_INT64_C(9007199254740993)}, // above 2^53: must stay exact
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()},
    };
    for (const auto &[text, value] : cases) {
        SCOPED_TRACE(text);
        const QByteArray literal(text);
        const PresetsPayload payload = PresetsPayload::fromJSON(
            payloadWith('[' + presetJSON(R"("max_channels":)" + literal) + ']', R"("version":)" + literal + R"(,"generated_at":"g","note":"n")"));
        EXPECT_EQ(std::tuple(payload.version, payload.presets.at(0).maxChannels), std::tuple(value, std::optional(value)));
    }

    // Present, absent and null decode; anything else fails the whole list, naming the member.
    const std::tuple<QByteArray, std::optional<LoudnessGoal>, const char *> goals[] = {
        {R"("loudness":{"target":-14,"ceiling":-1.0,"extra":true})", LoudnessGoal{-14, -1}, nullptr},
        {R"("loudness":{"target":-23.5,"ceiling":-2})", LoudnessGoal{-23.5, -2}, nullptr},
        {{}, std::nullopt, nullptr},
        {R"("loudness":-14)", std::nullopt, R"(typeMismatch: "presets[0].loudness" is a number, expected an object)"},
        {R"("loudness":{"ceiling":-1})", std::nullopt, R"(keyNotFound: no value for key "presets[0].loudness.target")"},
        {R"("loudness":{"target":-14,"ceiling":null})", std::nullopt, R"(valueNotFound: "presets[0].loudness.ceiling" is null, expected a number)"},
        {R"("loudness":{"target":"-14","ceiling":-1})", std::nullopt, R"(typeMismatch: "presets[0].loudness.target" is a string, expected a number)"},
        // Goals no conversion can meet are refused rather than chased.
        {R"("loudness":{"target":6,"ceiling":-1})", std::nullopt, R"(dataCorrupted: "presets[0].loudness.target" is 6, outside -70 to 0 LUFS)"},
        {R"("loudness":{"target":-1000,"ceiling":-1})", std::nullopt, R"(dataCorrupted: "presets[0].loudness.target" is -1000, outside -70 to 0 LUFS)"},
        {R"("loudness":{"target":-14,"ceiling":5})", std::nullopt, R"(dataCorrupted: "presets[0].loudness.ceiling" is 5, outside -20 to 0 dBTP)"},
        {R"("loudness":{"target":-30,"ceiling":-20.5})", std::nullopt, R"(dataCorrupted: "presets[0].loudness.ceiling" is -20.5, outside -20 to 0 dBTP)"},
        {R"("loudness":{"target":-10,"ceiling":-10})", std::nullopt, R"(dataCorrupted: "presets[0].loudness.ceiling" is -10, not above the target of -10 LUFS)"},
    };
    for (const auto &[member, decoded, failure] : goals) {
        SCOPED_TRACE(member.toStdString());
        const QByteArray body = payloadWith('[' + presetJSON(member) + ']');
        if (failure) {
            expectDescription(decodeFailure([&] { PresetsPayload::fromJSON(body); }), failure);
            continue;
        }
        const Preset preset = PresetsPayload::fromJSON(body).presets.at(0);
        EXPECT_EQ(preset.loudness, decoded);
        EXPECT_EQ(PresetsPayload::fromJSON(payloadWith('[' + preset.toJSON() + ']')).presets.at(0), preset);
    }
}

TEST(JsonReader, OnlyNumbersBeyondADoubleAreReadDifferentlyAndWrittenRecordsDecodeToTheSameValues)
{
    const double infinity = std::numeric_limits<double>::infinity();
    const QJsonArray read = JsonReader::read(R"(["a\"1e999\\",-1e999,{"k":[1e-999,-0,2.5e308]},"\u0000number-1234+"])").array();
    // Strings are left as they are, the last one's text not being a marker of this read.
    EXPECT_EQ(read, (QJsonArray{QStringLiteral("a\"1e999\\"), -infinity, QJsonObject{{"k", QJsonArray{0.0, 0.0, infinity}}},
                                QStringLiteral("\u0000number-1234+")}));

    // As deep as Qt's parser goes.
    QJsonValue innermost = JsonReader::read(QByteArray(1000, '[') + "1e999" + QByteArray(1000, ']')).array().at(0);
    for (int level = 1; level < 1000; ++level)
        innermost = innermost.toArray().at(0);
    EXPECT_EQ(innermost.toDouble(), infinity);

    // Anything else wrong still fails, with the error of the document as sent.
    for (const QByteArray broken : {"[01e999]", "[1e999x]", "[1e999,]", "[1e999", "[1e999,NaN]", "{1e999:1}"}) {
        SCOPED_TRACE(broken.toStdString());
        QJsonParseError qtError, error;
        QJsonDocument::fromJson(broken, &qtError);
        EXPECT_TRUE(JsonReader::read(broken, &error).isNull());
        EXPECT_EQ(error.error, qtError.error);
        EXPECT_EQ(error.offset, qtError.offset);
    }

    // Found by fuzzing: "\udfb5" decodes to a lone surrogate, which UTF-8 cannot carry; written
    // as UTF-8 it came back as a replacement character.
    const Session session = Session::fromJSON(R"({"access_token":"a\u15e9y\udfb5\n","refresh_token":"","installation_id":"\"",)"
                                              R"("client_id":"c/","session_id":"\ud83c"})");
    ASSERT_EQ(session.accessToken.size(), 5);
    EXPECT_TRUE(session.accessToken.at(3).isLowSurrogate());
    const QByteArray written = session.toJSON();
    EXPECT_TRUE(written.contains(R"("access_token":"a\u15e9y\udfb5\u000a")")) << written.toStdString();
    EXPECT_EQ(Session::fromJSON(written).toJSON(), written);

    Preset tricky = fullPreset();
    tricky.name = QStringLiteral("\"quoted\" \\ back\u2028slash \x1f 🎧");
    tricky.command = QStringLiteral("-af \"volume=2\" C:\\path\n\t\x01 ✓ 🎧");
    tricky.maxChannels = -3;
    Preset bare = fullPreset();
    bare.maxChannels.reset();
    bare.hint.reset();
    const PresetsPayload payload{std::numeric_limits<qint64>::min(), "g", QStringLiteral("ünïcode"), {tricky, bare}};
    const QByteArray list = payload.toJSON();
    EXPECT_TRUE(list.startsWith(R"({"version":-9223372036854775808,"note":")")) << list.toStdString();
    EXPECT_TRUE(list.endsWith(R"(}],"generated_at":"g"})")) << list.toStdString();
    const PresetsPayload again = PresetsPayload::fromJSON(list);
    EXPECT_EQ(std::tie(again.version, again.generatedAt, again.note, again.presets),
              std::tie(payload.version, payload.generatedAt, payload.note, payload.presets));

    // The session store tells a changed list by this comparison: each member counts, an absent optional too.
    const std::function<void(Preset &)> changes[] = {
        [](Preset &p) { p.id = "p2"; }, [](Preset &p) { p.name = "Other"; }, [](Preset &p) { p.description = "O"; },
        [](Preset &p) { p.suffix = "_x"; }, [](Preset &p) { p.outputExt = "mp3"; }, [](Preset &p) { p.kind = "video"; },
        [](Preset &p) { p.maxChannels.reset(); }, [](Preset &p) { p.command = "-i"; }, [](Preset &p) { p.hint.reset(); },
        [](Preset &p) { p.summary.reset(); }, [](Preset &p) { p.loudness = LoudnessGoal{-14, -1}; }};
    for (const auto &change : changes) {
        Preset changed = fullPreset();
        change(changed);
        EXPECT_FALSE(changed == fullPreset());
    }
}
