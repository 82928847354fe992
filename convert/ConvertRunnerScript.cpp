// Script templates: the tokenizer and the argument builder.
#include "convert/ConvertRunner.h"

#include "platform/Graphemes.h"
#include "convert/TemplateError.h"

#include <QStringView>

#include <vector>

namespace vorlik::convert {
namespace {

// The Unicode White_Space property, the whole set.
bool isWhiteSpace(char32_t c)
{
    switch (c) {
    case 0x0009: case 0x000A: case 0x000B: case 0x000C: case 0x000D:
    case 0x0020: case 0x0085: case 0x00A0: case 0x1680:
    case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

// A character is white space when it starts with a white-space code point; this keeps a
// carriage return and line feed pair (one character) a separator.
bool isWhiteSpace(QStringView character)
{
    if (character.isEmpty())
        return false;
    char32_t first = character[0].unicode();
    if (character.size() > 1 && character[0].isHighSurrogate() && character[1].isLowSurrogate())
        first = QChar::surrogateToUcs4(character[0], character[1]);
    return isWhiteSpace(first);
}

bool is(QStringView character, char16_t c) { return character.size() == 1 && character[0] == QChar(c); }

} // namespace

QStringList ConvertRunner::tokenize(const QString &script)
{
    const std::vector<qsizetype> bounds = platform::Graphemes::boundaries(script);
    std::vector<QStringView> characters;
    characters.reserve(bounds.size());
    const QStringView text(script);
    for (size_t i = 1; i < bounds.size(); ++i)
        characters.push_back(text.sliced(bounds[i - 1], bounds[i] - bounds[i - 1]));

    QStringList tokens;
    QString token;
    char16_t quote = 0; // 0, '\'' or '"'
    const size_t count = characters.size();
    for (size_t i = 0; i < count; ++i) {
        const QStringView c = characters[i];
        if (quote) {
            if (is(c, quote)) {
                quote = 0;
            } else if (quote == u'"' && is(c, u'\\') && i + 1 < count
                       && (is(characters[i + 1], u'"') || is(characters[i + 1], u'\\'))) {
                token += characters[++i];
            } else {
                token += c;
            }
            continue;
        }
        if (is(c, u'\'') || is(c, u'"')) {
            quote = c[0].unicode();
        } else if (is(c, u'\\')) {
            token += (i + 1 < count) ? characters[++i] : c;
        } else if (isWhiteSpace(c)) {
            if (!token.isEmpty())
                tokens.append(std::exchange(token, QString()));
        } else {
            token += c;
        }
    }
    if (!token.isEmpty())
        tokens.append(token);
    return tokens;
}

namespace {

// Every placeholder in one pass over the token as written: text that a path brings in is never
// scanned for placeholders again, so a path that itself contains "{output_base}" stays as it is
// (and is then refused for its braces) instead of being rewritten into another path.
QString substitute(const QString &token, const ConvertRunner::Placeholders &placeholders)
{
    QString result;
    result.reserve(token.size());
    qsizetype at = 0;
    while (at < token.size()) {
        const qsizetype brace = token.indexOf(u'{', at);
        if (brace < 0) {
            result += QStringView(token).sliced(at);
            break;
        }
        result += QStringView(token).sliced(at, brace - at);
        const QStringView rest = QStringView(token).sliced(brace + 1);
        at = brace + 1;
        QStringView replacement = u"{";
        for (const auto &[name, value] : placeholders) {
            if (rest.startsWith(name) && rest.sliced(name.size()).startsWith(u'}')) {
                replacement = value;
                at = brace + name.size() + 2;
                break;
            }
        }
        result += replacement;
    }
    return result;
}

} // namespace

QStringList ConvertRunner::buildArguments(const QString &scriptTemplate, const QString &inputPath,
                                          const QString &outputBasePath, const Placeholders &placeholders)
{
    Placeholders known{{QStringLiteral("input"), inputPath}, {QStringLiteral("output_base"), outputBasePath}};
    known.append(placeholders);
    QStringList tokens = tokenize(scriptTemplate);
    if (tokens.isEmpty() || tokens.first() != QStringLiteral("ffmpeg"))
        throw TemplateError::notFFmpeg();
    tokens.removeFirst();

    QStringList arguments;
    arguments.reserve(tokens.size());
    for (const QString &token : std::as_const(tokens)) {
        QString argument = substitute(token, known);
        if (argument.contains(u'{') || argument.contains(u'}'))
            throw TemplateError::unknownPlaceholder(token);
        if (argument.contains(u'\n') || argument.contains(u'\r'))
            throw TemplateError::controlCharacters();
        arguments.append(std::move(argument));
    }
    return arguments;
}

} // namespace vorlik::convert
