#include "service/APIError.h"

namespace vorlik::service {

APIError::APIError(Case kind, int status, QString text, QString description)
    : Failure(std::move(description)), m_case(kind), m_status(status), m_text(std::move(text))
{
}

APIError APIError::badStatus(int status, const QString &bodyText)
{
    return APIError(Case::badStatus, status, bodyText,
                    QStringLiteral("Server error ") + QString::number(status) + QStringLiteral(": ") + bodyText);
}

APIError APIError::decoding(const QString &text)
{
    return APIError(Case::decoding, 0, text, QStringLiteral("Unexpected response: ") + text);
}

APIError APIError::noData()
{
    return APIError(Case::noData, 0, {}, QStringLiteral("No data received."));
}

} // namespace vorlik::service
