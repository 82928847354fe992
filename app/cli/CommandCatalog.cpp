#include "app/cli/CommandCatalog.h"

namespace vorlik::app {
namespace {

using Option = QCommandLineOption;

constexpr qsizetype termColumn = 24; // where the descriptions of a list start
constexpr qsizetype lineWidth = 100;

// The words of `text` in lines of at most `lineWidth`, each after `indent` spaces but the first,
// which follows what already stands before it (`used` columns).
QString wrapped(const QString &text, qsizetype indent, qsizetype used)
{
    QString result;
    qsizetype column = used;
    bool lineStart = true;
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (!lineStart && column + 1 + word.size() > lineWidth) {
            result += u'\n' + QString(indent, u' ');
            column = indent;
            lineStart = true;
        }
        if (!lineStart) {
            result += u' ';
            ++column;
        }
        result += word;
        column += word.size();
        lineStart = false;
    }
    return result + u'\n';
}

// "  --preset ID          what it does", continuing under the description when the term is long.
QString listEntry(const QString &term, const QString &description)
{
    QString line = QStringLiteral("  ") + term;
    if (line.size() + 2 > termColumn)
        return line + u'\n' + QString(termColumn, u' ') + wrapped(description, termColumn, termColumn);
    return line.leftJustified(termColumn) + wrapped(description, termColumn, termColumn);
}

QString optionTerm(const Option &option)
{
    QStringList names;
    for (const QString &name : option.names())
        names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QString term = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        term += u' ' + option.valueName();
    return term;
}

Option helpOption() { return Option({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this help")); }

CommandSpec command(const char *name, const char *synopsis, const char *summary, qsizetype minimumArguments = 0,
                    qsizetype maximumArguments = 0)
{
    CommandSpec spec;
    spec.name = QString::fromUtf8(name);
    spec.synopsis = QString::fromUtf8(synopsis);
    spec.summary = QString::fromUtf8(summary);
    spec.minimumArguments = minimumArguments;
    spec.maximumArguments = maximumArguments;
    return spec;
}

QList<CommandSpec> makeCommands()
{
    QList<CommandSpec> commands;
    commands << command("connect", "", "sign in with the key (as above, else the remembered one)");

    CommandSpec presets = command("presets", "[--json]", "sign in and list the service's conversion presets");
    presets.details = QStringLiteral("Prints one line per preset: its id, kind and name.");
    presets.options << Option(QStringLiteral("json"), QStringLiteral("print the service's preset document instead, on one line"));
    commands << presets;

    commands << command("health", "", "print the server build");
    commands << command("logout", "", "sign in, then sign out again on the service");
    CommandSpec remember = command("remember-key", "[KEY|-]", "store the key in the keyring for automatic sign-in", 0, 1);
    remember.details = QStringLiteral("Stores KEY, the first line of standard input for - (typed without echo at a "
                                      "terminal), or the key given with --key or --key-file.");
    commands << remember;
    commands << command("forget-key", "", "remove the remembered key");

    CommandSpec convert = command("convert", "--preset ID [--jobs N] [--output-dir DIR] FILES...",
                                  "convert files and folders with a preset", 1, -1);
    convert.details = QStringLiteral(
        "Converts the media files given, and those inside the folders given, with the preset ID (see 'vorlik "
        "presets'). Outputs go beside each source unless --output-dir names a folder; an existing file is never "
        "replaced: a free name is taken.");
    convert.options << Option(QStringLiteral("preset"), QStringLiteral("the preset to apply (required)"), QStringLiteral("ID"))
                    << Option(QStringLiteral("jobs"), QStringLiteral("conversions side by side (the setting's number when not given)"),
                              QStringLiteral("N"))
                    << Option(QStringLiteral("output-dir"), QStringLiteral("write the outputs into DIR, an existing folder, for this run"),
                              QStringLiteral("DIR"));
    convert.missingArguments = QStringLiteral("convert needs the files to convert");
    commands << convert;

    CommandSpec analyse =
        command("analyse", "[--json] [--save-report DIR] FILES...", "analyse audio files on the service", 1, -1);
    analyse.details = QStringLiteral("Uploads each audio file (and those inside the folders given) and prints its report: "
                                     "container, streams, metadata, chapters, levels and loudness.");
    analyse.options << Option(QStringLiteral("json"),
                              QStringLiteral("print the service's analysis document of each file instead, one per line"))
                    << Option(QStringLiteral("save-report"),
                              QStringLiteral("save the service's report file of each file into DIR as NAME_report.txt (a "
                                             "free name when that is taken)"),
                              QStringLiteral("DIR"));
    analyse.missingArguments = QStringLiteral("analyse needs at least one audio file or folder");
    commands << analyse;

    CommandSpec update = command("update", "check|download|install", "check for, fetch, or install and relaunch an update", 1, 1);
    update.firstWords = QStringList{QStringLiteral("check"), QStringLiteral("download"), QStringLiteral("install")};
    update.missingArguments = QStringLiteral("update needs one of check, download, install");
    commands << update;

    CommandSpec ffmpeg = command("ffmpeg", "install [--from PROGRAM]", "install ffmpeg from the service (or copy PROGRAM)", 1, 1);
    ffmpeg.options << Option(QStringLiteral("from"), QStringLiteral("copy this ffmpeg instead of downloading one"),
                             QStringLiteral("PROGRAM"));
    ffmpeg.firstWords = QStringList{QStringLiteral("install")};
    ffmpeg.missingArguments = QStringLiteral("ffmpeg needs: install");
    commands << ffmpeg;

    commands << command("help", "[COMMAND]", "describe the program or one command", 0, 1);
    for (CommandSpec &each : commands)
        each.options << helpOption();
    return commands;
}

} // namespace

const QList<CommandSpec> &CommandCatalog::commands()
{
    static const QList<CommandSpec> all = makeCommands();
    return all;
}

const CommandSpec *CommandCatalog::find(const QString &name)
{
    for (const CommandSpec &command : commands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

QList<QCommandLineOption> CommandCatalog::globalOptions()
{
    return {Option(QStringLiteral("base-url"), QStringLiteral("the service's address, for this run"), QStringLiteral("URL")),
            Option(QStringLiteral("key-file"),
                   QStringLiteral("the client key: the first line of a file (keep it readable by you alone)"),
                   QStringLiteral("PATH")),
            Option(QStringLiteral("key"),
                   QStringLiteral("the client key itself, or - for the first line of standard input (typed without "
                                  "echo at a terminal); prefer - or --key-file: a key on the command line can be read "
                                  "by other users in the process list and stays in your shell's history"),
                   QStringLiteral("KEY")),
            Option(QStringLiteral("version"), QStringLiteral("print the version")), helpOption()};
}

QString CommandCatalog::exitStatuses()
{
    return QStringLiteral("Exit status:\n") + listEntry(QStringLiteral("0"), QStringLiteral("every file succeeded (the command did its work)"))
        + listEntry(QStringLiteral("1"), QStringLiteral("a file failed or was stopped (Ctrl-C), or the command failed"))
        + listEntry(QStringLiteral("2"), QStringLiteral("the command line could not be used"))
        + listEntry(QStringLiteral("3"), QStringLiteral("signing in failed"));
}

QString CommandCatalog::programHelp()
{
    QString text = QStringLiteral(
        "Usage: vorlik [--base-url URL] [--key-file PATH | --key - | --key KEY] [-SETTING VALUE]... COMMAND [ARGS]\n");
    text += wrapped(QStringLiteral("The command-line client of the Vorlik service: converts media with the service's "
                                   "presets and analyses audio on the service, as the window's Convert and Analysis "
                                   "pages do."),
                    0, 0);
    text += QStringLiteral("\nOptions:\n");
    for (const QCommandLineOption &option : globalOptions())
        text += listEntry(optionTerm(option), option.description());
    text += listEntry(QStringLiteral("-SETTING VALUE"),
                      QStringLiteral("a stored setting for this run only (-exportLocation customFolder, "
                                     "-vorlikDiag YES); booleans YES/NO, true/false, 1/0"));
    text += QStringLiteral("\nCommands:\n");
    for (const CommandSpec &command : commands())
        text += listEntry(command.name, command.summary);
    text += QStringLiteral("\n'vorlik help COMMAND' or 'vorlik COMMAND --help' describes a command's options.\n\n");
    return text + exitStatuses();
}

QString CommandCatalog::commandHelp(const CommandSpec &command)
{
    QString text = QStringLiteral("Usage: vorlik [OPTIONS] ") + command.name;
    if (!command.synopsis.isEmpty())
        text += u' ' + command.synopsis;
    text += u'\n' + command.summary.left(1).toUpper() + command.summary.mid(1) + QStringLiteral(".\n");
    if (!command.details.isEmpty())
        text += wrapped(command.details, 0, 0);
    text += QStringLiteral("\nOptions:\n");
    for (const QCommandLineOption &option : command.options)
        text += listEntry(optionTerm(option), option.description());
    text += QStringLiteral("\nThe OPTIONS before the command are the program's: see 'vorlik --help'.\n\n");
    return text + exitStatuses();
}

} // namespace vorlik::app
