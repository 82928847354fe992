#pragma once
// Why a preset's script could not be turned into ffmpeg arguments. The description is the text
// the Convert page shows under the rejected item.
#include "platform/Failure.h"

namespace vorlik::convert {

class TemplateError : public Failure {
public:
    enum class Case { unknownPlaceholder, notFFmpeg, controlCharacters };

    // "The script uses an unsupported placeholder in '" + token + "'."
    static TemplateError unknownPlaceholder(const QString &token);
    // "The script does not start with an ffmpeg command."
    static TemplateError notFFmpeg();
    // "The script contains unsupported control characters."
    static TemplateError controlCharacters();

    Case kind() const { return m_case; }
    const QString &token() const { return m_token; } // unknownPlaceholder only

private:
    TemplateError(Case kind, QString token, QString description);
    Case m_case;
    QString m_token;
};

} // namespace vorlik::convert
