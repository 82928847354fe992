#pragma once
#include <QString>
#include <QStringList>

#include <optional>

namespace vorlik::app {

// What the user asked for:
// `vorlik [--base-url URL] [--key-file PATH | --key - | --key KEY] [-setting value]... COMMAND [ARGS]`.
struct CommandLine {
    std::optional<QString> baseUrl;
    std::optional<QString> key;     // as given: "-" means standard input (see KeyInput)
    std::optional<QString> keyFile;
    QStringList settingOverrides; // "-name value" pairs for this run, as given
    QString command;
    QStringList arguments;        // what follows the command, options included
    QString error;                // set when the line cannot be used

    // Whether the command signs in (or stores a key), so that a key must be read for it.
    bool usesKey() const;

    static CommandLine parse(const QStringList &argv);
    static QString usage();
};

} // namespace vorlik::app
