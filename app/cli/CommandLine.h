#pragma once
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace vorlik::app {

// What the user asked for:
// `vorlik [--base-url URL] [--key-file PATH | --key - | --key KEY] [-setting value]... COMMAND [OPTIONS] [ARGS]`.
// The program's options and the command's are read by QCommandLineParser, with the options the
// command catalog lists; "-setting value" pairs before the command are stored settings for this
// run, as the window takes them.
struct CommandLine {
    std::optional<QString> baseUrl;
    std::optional<QString> key;     // as given: "-" means standard input (see KeyInput)
    std::optional<QString> keyFile;
    QStringList settingOverrides; // "-name value" pairs for this run, as given
    QString command;
    QStringList arguments;        // the command's arguments, its options taken out
    QHash<QString, QString> options; // the command's options given, by long name (flags: empty)
    bool help = false;            // describe `command` (the whole program when it is empty)
    bool version = false;
    QString error;                // one line, set when the line cannot be used

    bool has(const QString &option) const { return options.contains(option); }
    std::optional<QString> option(const QString &name) const;

    // Whether the command signs in (or stores a key), so that a key must be read for it.
    bool usesKey() const;

    static CommandLine parse(const QStringList &argv);
    // The help asked for: the program's, or the command's.
    QString helpText() const;
};

} // namespace vorlik::app
