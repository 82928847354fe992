#pragma once
// Small helpers for tests that work on real files.
#include <QByteArray>
#include <QString>
#include <QCoroTask>

#include <utility>

namespace vorlik::test {

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &content);

// Runs a coroutine-returning callable to completion on the test's event loop.
template <typename Task>
auto run(Task &&task)
{
    return QCoro::waitFor(std::forward<Task>(task));
}

} // namespace vorlik::test
