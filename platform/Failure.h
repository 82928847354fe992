#pragma once
#include <QByteArray>
#include <QString>

#include <exception>

namespace vorlik {

// Base of every error the program throws. description() is the user-facing text; callers show
// it unchanged (item texts, status lines, the connection pill).
class Failure : public std::exception {
public:
    explicit Failure(QString description);
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// The description of whatever was thrown: a Failure's own text, a std::exception's what().
QString describe(const std::exception &error);
QString describe(std::exception_ptr error);

} // namespace vorlik
