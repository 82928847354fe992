#pragma once
// The short texts shown beside progress bars, on the pages and on the command line alike.
#include <QString>

#include <chrono>

namespace vorlik::convert {

class ProgressText {
public:
    // A span of time as a clock: "0:07", "12:34", "1:02:03" (whole seconds, rounded down).
    static QString clock(std::chrono::milliseconds span);
    // A fraction between 0 and 1 as a whole percentage: "42%" (never 100% before the end).
    static QString percent(double fraction);
    // "0:12 left".
    static QString left(std::chrono::milliseconds span);
    // "0:07 elapsed".
    static QString elapsed(std::chrono::milliseconds span);
};

} // namespace vorlik::convert
