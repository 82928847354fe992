#include "app/cli/CommandLine.h"

#include "app/cli/CommandCatalog.h"

#include <QCommandLineParser>

namespace vorlik::app {
namespace {

bool takesValue(const QString &word)
{
    for (const QCommandLineOption &option : CommandCatalog::globalOptions()) {
        if (!option.valueName().isEmpty() && word == QStringLiteral("--") + option.names().constFirst())
            return true;
    }
    return false;
}

// "…, see 'vorlik help convert'": where to read how the line should have been.
QString withHint(const QString &problem, const QString &command)
{
    return problem + (command.isEmpty() ? QStringLiteral(" (see 'vorlik --help')")
                                        : QStringLiteral(" (see 'vorlik help ") + command + QStringLiteral("')"));
}

// The words before the command, less the setting pairs, for the program's own parser; the
// setting pairs, the command and what follows it go into `line`.
QStringList splitProgramWords(const QStringList &argv, CommandLine &line)
{
    QStringList programWords{argv.value(0, QStringLiteral("vorlik"))};
    for (qsizetype i = 1; i < argv.size(); ++i) {
        const QString &word = argv.at(i);
        if (takesValue(word)) {
            programWords << word;
            if (i + 1 < argv.size())
                programWords << argv.at(++i);
        } else if (word.startsWith(QLatin1String("--")) || word == QLatin1String("-h")) {
            programWords << word;
        } else if (word.startsWith(u'-') && word.size() > 1) {
            // A setting for this run only, like the window's "-key value" developer hooks.
            if (i + 1 >= argv.size()) {
                line.error = word + QStringLiteral(" needs a value");
                return programWords;
            }
            line.settingOverrides << word << argv.at(++i);
        } else {
            line.command = word;
            line.arguments = argv.mid(i + 1);
            break;
        }
    }
    return programWords;
}

void parseProgramOptions(const QStringList &words, CommandLine &line)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(CommandCatalog::globalOptions());
    if (!parser.parse(words)) {
        line.error = withHint(parser.errorText(), QString());
        return;
    }
    if (parser.isSet(QStringLiteral("base-url")))
        line.baseUrl = parser.value(QStringLiteral("base-url"));
    if (parser.isSet(QStringLiteral("key")))
        line.key = parser.value(QStringLiteral("key"));
    if (parser.isSet(QStringLiteral("key-file")))
        line.keyFile = parser.value(QStringLiteral("key-file"));
    line.help = parser.isSet(QStringLiteral("help"));
    line.version = parser.isSet(QStringLiteral("version"));
}

void parseCommandOptions(const CommandSpec &command, CommandLine &line)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(command.options);
    if (!parser.parse(QStringList{QStringLiteral("vorlik")} + line.arguments)) {
        line.error = withHint(command.name + QStringLiteral(": ") + parser.errorText(), command.name);
        return;
    }
    line.arguments = parser.positionalArguments();
    for (const QCommandLineOption &option : command.options) {
        const QString name = option.names().constLast();
        if (parser.isSet(name))
            line.options.insert(name, option.valueName().isEmpty() ? QString() : parser.value(name));
    }
    if (line.options.remove(QStringLiteral("help")) > 0) {
        line.help = true;
        return;
    }
    const qsizetype count = line.arguments.size();
    if (count < command.minimumArguments)
        line.error = withHint(command.missingArguments, command.name);
    else if (command.maximumArguments >= 0 && count > command.maximumArguments)
        line.error = withHint(command.name + QStringLiteral(": unexpected argument '")
                                  + line.arguments.at(command.maximumArguments) + u'\'',
                              command.name);
    else if (count > 0 && !command.firstWords.isEmpty() && !command.firstWords.contains(line.arguments.constFirst()))
        line.error = withHint(command.missingArguments + QStringLiteral(", not '") + line.arguments.constFirst() + u'\'',
                              command.name);
}

} // namespace

std::optional<QString> CommandLine::option(const QString &name) const
{
    const auto found = options.constFind(name);
    return found == options.cend() ? std::nullopt : std::optional<QString>(*found);
}

CommandLine CommandLine::parse(const QStringList &argv)
{
    CommandLine line;
    const QStringList programWords = splitProgramWords(argv, line);
    if (line.error.isEmpty())
        parseProgramOptions(programWords, line);
    if (!line.error.isEmpty() || line.help || line.version) {
        line.command.clear();
        line.arguments.clear();
        return line;
    }
    if (line.key && line.keyFile)
        line.error = withHint(QStringLiteral("give the key once: --key or --key-file"), QString());
    else if (line.command.isEmpty())
        line.error = withHint(QStringLiteral("no command given"), QString());
    if (!line.error.isEmpty())
        return line;

    const CommandSpec *command = CommandCatalog::find(line.command);
    if (!command) {
        line.error = withHint(QStringLiteral("unknown command '") + line.command + u'\'', QString());
        return line;
    }
    parseCommandOptions(*command, line);
    if (line.error.isEmpty() && line.command == QLatin1String("help")) {
        // `vorlik help [COMMAND]` is the help of the command named.
        line.help = true;
        line.command = line.arguments.value(0);
        line.arguments.clear();
        if (!line.command.isEmpty() && !CommandCatalog::find(line.command))
            line.error = withHint(QStringLiteral("unknown command '") + line.command + u'\'', QString());
    }
    return line;
}

QString CommandLine::helpText() const
{
    const CommandSpec *spec = CommandCatalog::find(command);
    return spec ? CommandCatalog::commandHelp(*spec) : CommandCatalog::programHelp();
}

bool CommandLine::usesKey() const
{
    static const QStringList signingIn{QStringLiteral("connect"), QStringLiteral("presets"), QStringLiteral("analyse"),
                                       QStringLiteral("logout"), QStringLiteral("convert"), QStringLiteral("remember-key")};
    return signingIn.contains(command);
}

} // namespace vorlik::app
