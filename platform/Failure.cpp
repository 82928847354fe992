#include "platform/Failure.h"

namespace vorlik {

Failure::Failure(QString description)
    : m_description(std::move(description)), m_utf8(m_description.toUtf8())
{
}

QString describe(const std::exception &error)
{
    if (const auto *failure = dynamic_cast<const Failure *>(&error))
        return failure->description();
    return QString::fromUtf8(error.what());
}

QString describe(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return describe(e);
    } catch (...) {
    }
    return QStringLiteral("Unknown error");
}

} // namespace vorlik
