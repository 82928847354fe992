// The preset script language: ConvertRunner::tokenize and ConvertRunner::buildArguments.
// Input: script, NUL, source path, NUL, output base path.
#include "convert/ConvertRunner.h"
#include "convert/TemplateError.h"
#include "fuzz/FuzzSupport.h"

using vorlik::convert::ConvertRunner;
using vorlik::convert::TemplateError;

namespace {

bool isAscii(const QString &text, char16_t low = 0)
{
    for (const QChar c : text)
        if (c.unicode() < low || c.unicode() > 0x7e)
            return false;
    return true;
}

bool hasLineBreakOrBrace(const QString &text)
{
    return text.contains(u'\n') || text.contains(u'\r') || text.contains(u'{') || text.contains(u'}');
}

// Single quotes around the token, each single quote inside written as '\''.
QString quoted(const QString &token)
{
    QString out = QStringLiteral("'");
    for (const QChar c : token)
        out += c == u'\'' ? QStringLiteral("'\\''") : QString(c);
    return out + u'\'';
}

QString shown(const QStringList &list) { return QLatin1Char('[') + list.join(QStringLiteral("] [")) + QLatin1Char(']'); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = vorlik::fuzz::parts(data, size, 3);
    const QString script = QString::fromUtf8(input[0]);
    const QString inputPath = QString::fromUtf8(input[1]);
    const QString outputBase = QString::fromUtf8(input[2]);

    const QStringList tokens = ConvertRunner::tokenize(script);
    for (const QString &token : tokens)
        FUZZ_CHECK(!token.isEmpty(), QStringLiteral("empty token from: ") + script);
    FUZZ_CHECK(ConvertRunner::tokenize(script) == tokens, script);

    // Without quotes and escapes, ASCII text splits at its white space and nowhere else.
    if (isAscii(script, 0) && !script.contains(u'\'') && !script.contains(u'"') && !script.contains(u'\\')) {
        QString spaced = script;
        for (const char16_t c : {u'\t', u'\n', u'\v', u'\f', u'\r'})
            spaced.replace(QChar(c), u' ');
        const QStringList expected = spaced.split(u' ', Qt::SkipEmptyParts);
        FUZZ_CHECK(tokens == expected, shown(tokens) + QStringLiteral(" vs ") + shown(expected));
    }
    // Printable ASCII tokens written back in single quotes read back as the same tokens.
    if (std::all_of(tokens.cbegin(), tokens.cend(), [](const QString &t) { return isAscii(t, 0x20); })) {
        QStringList written;
        for (const QString &token : tokens)
            written << quoted(token);
        const QStringList reread = ConvertRunner::tokenize(written.join(u' '));
        FUZZ_CHECK(reread == tokens, shown(reread) + QStringLiteral(" vs ") + shown(tokens));
    }

    QStringList arguments;
    try {
        arguments = ConvertRunner::buildArguments(script, inputPath, outputBase);
    } catch (const TemplateError &error) {
        switch (error.kind()) {
        case TemplateError::Case::notFFmpeg:
            FUZZ_CHECK(tokens.isEmpty() || tokens.first() != QStringLiteral("ffmpeg"), script);
            break;
        case TemplateError::Case::unknownPlaceholder:
            FUZZ_CHECK(tokens.mid(1).contains(error.token()), error.token());
            break;
        case TemplateError::Case::controlCharacters:
            FUZZ_CHECK(std::any_of(tokens.cbegin() + 1, tokens.cend(), [](const QString &t) {
                           return t.contains(u'\n') || t.contains(u'\r');
                       }) || hasLineBreakOrBrace(inputPath) || hasLineBreakOrBrace(outputBase),
                       script);
            break;
        }
        return 0;
    }

    FUZZ_CHECK(!tokens.isEmpty() && tokens.first() == QStringLiteral("ffmpeg"), script);
    FUZZ_CHECK(arguments.size() == tokens.size() - 1, shown(arguments));
    for (const QString &argument : std::as_const(arguments)) {
        FUZZ_CHECK(!argument.contains(u'\n') && !argument.contains(u'\r'), QStringLiteral("line break in ") + argument);
        FUZZ_CHECK(!argument.contains(u'{') && !argument.contains(u'}'), QStringLiteral("brace in ") + argument);
    }
    // With paths that bring in nothing special, each argument is its token with the two
    // placeholders put in.
    if (!hasLineBreakOrBrace(inputPath) && !hasLineBreakOrBrace(outputBase)) {
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            QString expected = tokens.at(i + 1);
            expected.replace(QStringLiteral("{input}"), inputPath);
            expected.replace(QStringLiteral("{output_base}"), outputBase);
            FUZZ_CHECK(arguments.at(i) == expected, arguments.at(i) + QStringLiteral(" vs ") + expected);
        }
    }
    return 0;
}
