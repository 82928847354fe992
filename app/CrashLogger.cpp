#include "app/CrashLogger.h"

#include "diagnostics/DiagnosticsLogger.h"

#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <future>
#include <memory>
#include <thread>
#include <typeinfo>

namespace vorlik::app {

namespace {

// The handler that was in place before ours (the runtime's verbose one): ours runs it after
// logging. Process-wide by nature, like the handler itself.
std::terminate_handler previousHandler = nullptr;
std::atomic_flag installed = ATOMIC_FLAG_INIT;
std::atomic_flag terminating = ATOMIC_FLAG_INIT;

QString demangle(const char *name)
{
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                                         &std::free);
    return status == 0 && readable ? QString::fromUtf8(readable.get()) : QString::fromUtf8(name);
}

// "module(mangled+0x1f) [0x5555]" -> ("module", "demangled+0x1f")
QString describeFrame(const char *symbol)
{
    const QString text = QString::fromUtf8(symbol);
    const qsizetype open = text.indexOf(QLatin1Char('('));
    const qsizetype close = text.indexOf(QLatin1Char(')'), open + 1);
    if (open < 0 || close < 0)
        return text;
    const QString module = QFileInfo(text.left(open)).fileName();
    QString inside = text.mid(open + 1, close - open - 1);
    const qsizetype plus = inside.lastIndexOf(QLatin1Char('+'));
    if (plus > 0)
        inside = demangle(inside.left(plus).toUtf8().constData()) + inside.mid(plus);
    return module + QLatin1Char(' ') + (inside.isEmpty() ? text.mid(close + 1).trimmed() : inside);
}

// The C++ runtime's own libraries: the throw and terminate machinery lives there.
bool isRuntimeFrame(const QString &frame)
{
    return frame.startsWith(QLatin1String("libstdc++")) || frame.startsWith(QLatin1String("libgcc_s"))
        || frame.contains(QLatin1String("__cxa_throw")) || frame.contains(QLatin1String("__cxa_rethrow"))
        || frame.contains(QLatin1String("std::terminate"));
}

// Waits a little for the log's worker to write what is queued; the worker itself might be the
// thread that is terminating, so never wait for it without a limit.
void flushLog()
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([done] {
        diagnostics::DiagnosticsLogger::shared().drain();
        done->set_value();
    }).detach();
    finished.wait_for(std::chrono::seconds(2));
}

[[noreturn]] void onTerminate()
{
    if (!terminating.test_and_set()) {
        diagnostics::DiagnosticsLogger::shared().log(QStringLiteral("crash"), CrashLogger::uncaughtExceptionMessage());
        flushLog();
    }
    if (previousHandler)
        previousHandler();
    std::abort();
}

} // namespace

void CrashLogger::install()
{
    if (installed.test_and_set())
        return;
    void *warmUp[1];
    backtrace(warmUp, 1); // loads the unwinder now rather than while the program is failing
    previousHandler = std::set_terminate(onTerminate);
}

QString CrashLogger::uncaughtExceptionMessage()
{
    QString type;
    QString what;
    if (const std::exception_ptr current = std::current_exception()) {
        const std::type_info *info = abi::__cxa_current_exception_type();
        type = info ? demangle(info->name()) : QStringLiteral("unknown");
        try {
            std::rethrow_exception(current);
        } catch (const std::exception &error) {
            what = QString::fromUtf8(error.what());
        } catch (...) {
        }
    } else {
        type = QStringLiteral("(none)");
        what = QStringLiteral("terminate called without an active exception");
    }
    return QStringLiteral("uncaught exception ") + type + QStringLiteral(": ") + what + QStringLiteral(" \n")
        + stackFrames(stackDepth).join(QLatin1Char('\n'));
}

QStringList CrashLogger::stackFrames(int count)
{
    void *addresses[96];
    const int depth = backtrace(addresses, 96);
    std::unique_ptr<char *, decltype(&std::free)> symbols(backtrace_symbols(addresses, depth), &std::free);
    QStringList frames;
    if (!symbols)
        return frames;
    QStringList all;
    for (int index = 0; index < depth; ++index)
        all.append(describeFrame(symbols.get()[index]));
    // The stack starts with our own handler, then the runtime's terminate and throw frames;
    // the frames worth reading begin just above the first run of runtime frames.
    qsizetype start = 1;
    qsizetype index = 0;
    while (index < all.size() && index < 8 && !isRuntimeFrame(all.at(index)))
        ++index;
    if (index < all.size() && index < 8) {
        while (index < all.size() && isRuntimeFrame(all.at(index)))
            ++index;
        start = index;
    }
    for (qsizetype index = start; index < all.size() && frames.size() < count; ++index)
        frames.append(QString::number(frames.size()) + QLatin1Char(' ') + all.at(index));
    return frames;
}

} // namespace vorlik::app
