#include "update/UnreadableDataError.h"

namespace vorlik::update {

UnreadableDataError UnreadableDataError::missing(const QString &key)
{
    return UnreadableDataError(QStringLiteral("The data couldn’t be read because it is missing."),
                               QStringLiteral("no value for \"") + key + u'"');
}

UnreadableDataError UnreadableDataError::wrongFormat(const QString &detail)
{
    return UnreadableDataError(QStringLiteral("The data couldn’t be read because it isn’t in the correct format."),
                               detail);
}

} // namespace vorlik::update
