#include "convert/TemplateError.h"

namespace vorlik::convert {

TemplateError::TemplateError(Case kind, QString token, QString description)
    : Failure(std::move(description)), m_case(kind), m_token(std::move(token))
{
}

TemplateError TemplateError::unknownPlaceholder(const QString &token)
{
    return TemplateError(Case::unknownPlaceholder, token,
                         QStringLiteral("The script uses an unsupported placeholder in '") + token + QStringLiteral("'."));
}

TemplateError TemplateError::notFFmpeg()
{
    return TemplateError(Case::notFFmpeg, {}, QStringLiteral("The script does not start with an ffmpeg command."));
}

TemplateError TemplateError::controlCharacters()
{
    return TemplateError(Case::controlCharacters, {},
                         QStringLiteral("The script contains unsupported control characters."));
}

} // namespace vorlik::convert
