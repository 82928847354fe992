#include "app/FatalSignalLogger.h"

#include <QDateTime>

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace vorlik::app {

namespace {

// A signal handler can reach nothing but process-wide state, prepared before any signal comes.
constexpr int fatalSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
char logPath[4096];
std::atomic<bool> enabled{false};
std::atomic<int> utcOffset{0};
std::atomic_flag installed = ATOMIC_FLAG_INIT;
alignas(16) char alternateStack[64 * 1024]; // a stack overflow leaves no room on the thread's own

// A tiny writer into a fixed buffer: no allocation, safe inside a signal handler.
struct LineBuffer {
    char text[160];
    size_t size = 0;

    void put(const char *part)
    {
        while (*part && size < sizeof text)
            text[size++] = *part++;
    }
    void number(long long value, int width = 0)
    {
        char digits[24];
        int count = 0;
        const bool negative = value < 0;
        unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value) : value;
        do {
            digits[count++] = char('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude && count < 23);
        while (count < width && count < 23)
            digits[count++] = '0';
        if (negative && size < sizeof text)
            text[size++] = '-';
        while (count && size < sizeof text)
            text[size++] = digits[--count];
    }
};

const char *signalName(int number)
{
    switch (number) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGABRT:
        return "SIGABRT";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    default:
        return "signal";
    }
}

void formatInto(LineBuffer &line, long long epochMilliseconds, int offsetSeconds, int signalNumber)
{
    // Civil date from a day count (proleptic Gregorian), as integer arithmetic only.
    const long long localMilliseconds = epochMilliseconds + offsetSeconds * 1000LL;
    long long days = localMilliseconds / 86400000LL;
    long long inDay = localMilliseconds % 86400000LL;
    if (inDay < 0) {
        inDay += 86400000LL;
        --days;
    }
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long dayOfEra = z - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shiftedMonth = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const long long month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    line.number(year, 4);
    line.put("-");
    line.number(month, 2);
    line.put("-");
    line.number(day, 2);
    line.put(" ");
    line.number(inDay / 3600000, 2);
    line.put(":");
    line.number(inDay / 60000 % 60, 2);
    line.put(":");
    line.number(inDay / 1000 % 60, 2);
    line.put(".");
    line.number(inDay % 1000, 3);
    line.put(" [crash] fatal signal ");
    line.put(signalName(signalNumber));
    line.put(" (");
    line.number(signalNumber);
    line.put(")\n");
}

void writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written <= 0)
            return;
        data += written;
        size -= size_t(written);
    }
}

void onFatalSignal(int number)
{
    if (enabled.load(std::memory_order_relaxed)) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        LineBuffer line;
        formatInto(line, now.tv_sec * 1000LL + now.tv_nsec / 1000000, utcOffset.load(std::memory_order_relaxed),
                   number);

        void *frames[FatalSignalLogger::stackDepth + 2];
        const int depth = backtrace(frames, FatalSignalLogger::stackDepth + 2);
        // Frames 0 and 1 are this handler and the kernel's signal trampoline.
        const int skipped = depth > 2 ? 2 : 0;

        const int file = logPath[0] ? ::open(logPath, O_WRONLY | O_APPEND | O_CLOEXEC) : -1;
        for (int fd : {file, int(STDOUT_FILENO)}) {
            if (fd < 0)
                continue;
            writeAll(fd, line.text, line.size);
            backtrace_symbols_fd(frames + skipped, depth - skipped, fd);
        }
        if (file >= 0)
            ::close(file);
    }
    // The default action (a core dump or plain termination) happens when the signal is raised
    // again after this handler returns.
    ::signal(number, SIG_DFL);
    ::raise(number);
}

} // namespace

void FatalSignalLogger::install(const QString &logFile, bool diagnosticsEnabled)
{
    setEnabled(diagnosticsEnabled);
    if (installed.test_and_set())
        return;
    const QByteArray path = logFile.toLocal8Bit();
    std::strncpy(logPath, path.constData(), sizeof logPath - 1);
    utcOffset = QDateTime::currentDateTime().offsetFromUtc();
    void *warmUp[1];
    backtrace(warmUp, 1); // loads the unwinder now: it may allocate the first time

    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int number : fatalSignals)
        sigaction(number, &action, nullptr);
}

void FatalSignalLogger::setEnabled(bool on)
{
    enabled.store(on, std::memory_order_relaxed);
}

QByteArray FatalSignalLogger::formatLine(qint64 epochMilliseconds, int utcOffsetSeconds, int signalNumber)
{
    LineBuffer line;
    formatInto(line, epochMilliseconds, utcOffsetSeconds, signalNumber);
    return QByteArray(line.text, qsizetype(line.size));
}

} // namespace vorlik::app
