#include "devserver/ToolProcess.h"

#include <QProcess>

namespace vorlik::devserver {

namespace {

void keepTail(QByteArray &tail, const QByteArray &more)
{
    tail += more;
    if (tail.size() > ToolProcess::errorTailBytes)
        tail.remove(0, tail.size() - ToolProcess::errorTailBytes);
}

} // namespace

ToolProcess::Outcome ToolProcess::run(const QString &program, const QStringList &arguments,
                                      const std::function<bool(const char *, qsizetype)> &onOutput,
                                      const std::function<bool()> &stop)
{
    Outcome outcome;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(30000)) {
        outcome.startError = process.errorString();
        return outcome;
    }
    outcome.started = true;

    QByteArray chunk(256 * 1024, Qt::Uninitialized);
    for (;;) {
        if (stop()) {
            outcome.stopped = true;
            break;
        }
        keepTail(outcome.errorTail, process.readAllStandardError());
        if (process.bytesAvailable() == 0) {
            if (process.state() == QProcess::NotRunning)
                break;
            process.waitForReadyRead(100);
            continue;
        }
        bool refused = false;
        while (process.bytesAvailable() > 0) {
            const qint64 read = process.read(chunk.data(), chunk.size());
            if (read <= 0)
                break;
            if (!onOutput(chunk.constData(), read)) {
                refused = true;
                break;
            }
        }
        if (refused) {
            outcome.stopped = true;
            break;
        }
    }
    if (outcome.stopped && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(10000);
        return outcome;
    }
    process.waitForFinished(-1);
    keepTail(outcome.errorTail, process.readAllStandardError());
    outcome.crashed = process.exitStatus() != QProcess::NormalExit;
    outcome.exitCode = process.exitCode();
    return outcome;
}

QString ToolProcess::versionLine(const QString &program)
{
    QByteArray output;
    const Outcome outcome = run(program, {QStringLiteral("-version")}, [&](const char *data, qsizetype size) {
        output.append(data, size);
        return output.size() < 1 << 20;
    }, [] { return false; });
    if (!outcome.succeeded())
        return {};
    return QString::fromUtf8(output.left(output.indexOf('\n'))).trimmed();
}

} // namespace vorlik::devserver
