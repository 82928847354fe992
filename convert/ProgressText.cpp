#include "convert/ProgressText.h"

#include <algorithm>

namespace vorlik::convert {

QString ProgressText::clock(std::chrono::milliseconds span)
{
    const qint64 seconds = std::max<qint64>(0, span.count() / 1000);
    const qint64 hours = seconds / 3600;
    const qint64 minutes = seconds / 60 % 60;
    const QString secondsText = QStringLiteral("%1").arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (hours > 0)
        return QStringLiteral("%1:%2:").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')) + secondsText;
    return QString::number(minutes) + u':' + secondsText;
}

QString ProgressText::percent(double fraction)
{
    // Rounded down, so 99.6% still reads 99% until the run really ends.
    return QString::number(std::clamp(int(fraction * 100), 0, 100)) + u'%';
}

QString ProgressText::left(std::chrono::milliseconds span)
{
    return clock(span) + QStringLiteral(" left");
}

QString ProgressText::elapsed(std::chrono::milliseconds span)
{
    return clock(span) + QStringLiteral(" elapsed");
}

} // namespace vorlik::convert
