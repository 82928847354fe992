#pragma once
// A program run as a user runs it: arguments, extra environment, standard input and working
// folder in; exit status and both streams out.
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace vorlik::test {

struct ProgramRun {
    int status = -1; // -1 when it did not end by itself
    QString out;
    QString err;
};

struct ProgramSetting {
    QMap<QString, QString> environment = {}; // over the test's own
    QByteArray input = {};               // its standard input, closed after it
    QString folder = {};                 // its working folder
};

inline void startProgram(QProcess &process, const QString &program, const QStringList &arguments,
                         const ProgramSetting &setting = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto it = setting.environment.begin(); it != setting.environment.end(); ++it)
        environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(setting.folder);
    process.start(program, arguments);
    process.waitForStarted(10000);
    process.write(setting.input);
    process.closeWriteChannel();
}

// Waits (two minutes at most) for a started program to end and takes what it printed.
inline ProgramRun finishProgram(QProcess &process)
{
    // A program still running when the wait ends has no status: it must not read as a success.
    const bool ended = process.waitForFinished(120000) || process.state() == QProcess::NotRunning;
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

inline ProgramRun runProgram(const QString &program, const QStringList &arguments, const ProgramSetting &setting = {})
{
    QProcess process;
    startProgram(process, program, arguments, setting);
    return finishProgram(process);
}

// Whether `text` says `expected`: it holds it; a leading "^" means it starts with it, a trailing
// "$" that it ends with it, both that it is exactly that.
inline bool says(const QString &text, QString expected)
{
    const bool first = expected.startsWith(u'^');
    const bool last = expected.endsWith(u'$');
    expected = expected.mid(first ? 1 : 0);
    expected.chop(last ? 1 : 0);
    if (first && last)
        return text == expected;
    return first ? text.startsWith(expected) : last ? text.endsWith(expected) : text.contains(expected);
}

} // namespace vorlik::test
