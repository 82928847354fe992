#pragma once
// A document that could not be decoded, with the platform's texts for unreadable data. The
// member at fault is kept for the log; the user sees only the platform's sentence.
#include "platform/Failure.h"

namespace vorlik::update {

class UnreadableDataError : public Failure {
public:
    // "The data couldn’t be read because it is missing."
    static UnreadableDataError missing(const QString &key);
    // "The data couldn’t be read because it isn’t in the correct format."
    static UnreadableDataError wrongFormat(const QString &detail);

    const QString &detail() const { return m_detail; }

private:
    UnreadableDataError(QString description, QString detail)
        : Failure(std::move(description)), m_detail(std::move(detail)) {}
    QString m_detail;
};

} // namespace vorlik::update
