#include "diagnostics/LineFormatter.h"

#include <ctime>

namespace vorlik::diagnostics {
namespace {

struct SecondCache {
    time_t second = -1;
    char text[20] = {}; // "yyyy-MM-dd HH:mm:ss"
};

void putDigits(char *at, int value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        at[i] = char('0' + value % 10);
        value /= 10;
    }
}

} // namespace

QString currentTimestamp()
{
    thread_local SecondCache cache;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != cache.second) {
        tm local{};
        localtime_r(&now.tv_sec, &local);
        char *t = cache.text;
        putDigits(t, local.tm_year + 1900, 4);
        t[4] = '-';
        putDigits(t + 5, local.tm_mon + 1, 2);
        t[7] = '-';
        putDigits(t + 8, local.tm_mday, 2);
        t[10] = ' ';
        putDigits(t + 11, local.tm_hour, 2);
        t[13] = ':';
        putDigits(t + 14, local.tm_min, 2);
        t[16] = ':';
        putDigits(t + 17, local.tm_sec, 2);
        cache.second = now.tv_sec;
    }
    char text[24];
    std::copy(cache.text, cache.text + 19, text);
    text[19] = '.';
    putDigits(text + 20, int(now.tv_nsec / 1000000), 3);
    return QString::fromLatin1(text, 23);
}

QString formatLine(const QString &category, const QString &maskedMessage)
{
    QString line;
    line.reserve(23 + 4 + category.size() + maskedMessage.size() + 1);
    line += currentTimestamp();
    line += QLatin1String(" [");
    line += category;
    line += QLatin1String("] ");
    line += maskedMessage;
    line += QLatin1Char('\n');
    return line;
}

} // namespace vorlik::diagnostics
