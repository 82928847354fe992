#pragma once
#include <QString>

namespace vorlik::diagnostics {

// "yyyy-MM-dd HH:mm:ss.SSS" in local time, for now. Cheap: the calendar part is worked out
// once per second per thread, the rest is digits.
QString currentTimestamp();

// timestamp + " [" + category + "] " + message + "\n" (the message is already masked).
QString formatLine(const QString &category, const QString &maskedMessage);

} // namespace vorlik::diagnostics
