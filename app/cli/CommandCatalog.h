#pragma once
// Every command of `vorlik`: its name, what it does, its options and its arguments. The parser
// reads its options from here, and the help of the program and of each command, the manual page
// and the shell completion are all written from it, so none of them can drift from the others.
#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

namespace vorlik::app {

struct CommandSpec {
    QString name;
    QString synopsis;    // what follows the name: "[--jobs N] --preset ID FILES..."
    QString summary;     // one line for the list of commands
    QString details;     // the paragraph of the command's own help; may be empty
    QList<QCommandLineOption> options;
    qsizetype minimumArguments = 0;
    qsizetype maximumArguments = 0; // -1: any number
    QStringList firstWords;         // when not empty, the only words allowed as first argument
    QString missingArguments;       // the usage error when fewer arguments are given
};

class CommandCatalog {
public:
    static const QList<CommandSpec> &commands();
    // Null when there is no such command.
    static const CommandSpec *find(const QString &name);
    // The options taken before the command.
    static QList<QCommandLineOption> globalOptions();

    // `vorlik --help`: synopsis, the key options, the setting overrides, the commands, the exit
    // statuses.
    static QString programHelp();
    // `vorlik help COMMAND`, `vorlik COMMAND --help`.
    static QString commandHelp(const CommandSpec &command);
    // The exit statuses, as both helps end.
    static QString exitStatuses();
};

} // namespace vorlik::app
