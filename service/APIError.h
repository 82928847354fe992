#pragma once
// Errors of the service's API. APIError covers what the service answered; TransportError
// carries Qt's own description of a failed send (no connection, time-out, cancellation).
#include "platform/Failure.h"

#include <QNetworkReply>

namespace vorlik::service {

class APIError : public Failure {
public:
    enum class Case { badStatus, decoding, noData };

    static APIError badStatus(int status, const QString &bodyText); // "Server error " + code + ": " + body
    static APIError decoding(const QString &text);                  // "Unexpected response: " + text
    static APIError noData();                                       // "No data received."

    Case kind() const { return m_case; }
    int status() const { return m_status; }           // badStatus only
    const QString &text() const { return m_text; }    // body text (badStatus) or decoding text

private:
    APIError(Case kind, int status, QString text, QString description);
    Case m_case;
    int m_status = 0;
    QString m_text;
};

class TransportError : public Failure {
public:
    TransportError(QNetworkReply::NetworkError code, const QString &description)
        : Failure(description), m_code(code) {}
    QNetworkReply::NetworkError code() const { return m_code; }

private:
    QNetworkReply::NetworkError m_code;
};

} // namespace vorlik::service
