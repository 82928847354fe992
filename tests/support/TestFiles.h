#pragma once
// Small helpers for tests that work on real files.
#include <QByteArray>
#include <QString>
#include <QCoroTask>
#include <QEventLoop>

#include <exception>
#include <optional>
#include <type_traits>

#include <utility>

namespace vorlik::test {

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &content);

// Runs a task to completion on a local event loop and returns its value or rethrows its
// error. (QCoro::waitFor never leaves its loop when the task throws.)
template <typename T>
T run(QCoro::Task<T> task)
{
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;
    bool done = false;
    QEventLoop loop;
    auto body = [&]() -> QCoro::Task<void> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                value = true;
            } else {
                value = co_await std::move(task);
            }
        } catch (...) {
            error = std::current_exception();
        }
        done = true;
        loop.quit();
    };
    auto running = body();
    if (!done)
        loop.exec();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*value);
}

} // namespace vorlik::test
