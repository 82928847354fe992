#include "app/cli/CommandLine.h"

namespace vorlik::app {

CommandLine CommandLine::parse(const QStringList &argv)
{
    CommandLine line;
    qsizetype i = 1; // argv[0] is the program
    const auto valueOf = [&](const QString &option) -> std::optional<QString> {
        if (i + 1 >= argv.size()) {
            line.error = option + QStringLiteral(" needs a value");
            return std::nullopt;
        }
        return argv.at(++i);
    };
    for (; i < argv.size(); ++i) {
        const QString &word = argv.at(i);
        if (word == QLatin1String("--base-url")) {
            line.baseUrl = valueOf(word);
        } else if (word == QLatin1String("--key")) {
            line.key = valueOf(word);
        } else if (word == QLatin1String("--key-file")) {
            line.keyFile = valueOf(word);
        } else if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            line.command = QStringLiteral("help");
            return line;
        } else if (word.startsWith(QLatin1String("--"))) {
            line.error = QStringLiteral("unknown option ") + word;
        } else if (word.startsWith(QLatin1Char('-')) && word.size() > 1) {
            // A setting for this run only, like the window's "-key value" developer hooks.
            const auto value = valueOf(word);
            if (value)
                line.settingOverrides << word << *value;
        } else {
            line.command = word;
            line.arguments = argv.mid(i + 1);
            break;
        }
        if (!line.error.isEmpty())
            return line;
    }
    if (line.key && line.keyFile && line.error.isEmpty())
        line.error = QStringLiteral("give the key once: --key or --key-file");
    if (line.command.isEmpty() && line.error.isEmpty())
        line.error = QStringLiteral("no command given");
    return line;
}

bool CommandLine::usesKey() const
{
    static const QStringList signingIn{QStringLiteral("connect"), QStringLiteral("presets"), QStringLiteral("analyse"),
                                       QStringLiteral("logout"), QStringLiteral("convert"), QStringLiteral("remember-key")};
    return signingIn.contains(command);
}

QString CommandLine::usage()
{
    return QStringLiteral(
        "usage: vorlik [--base-url URL] [--key-file PATH | --key - | --key KEY] [-setting value]... COMMAND [ARGS]\n"
        "\n"
        "the client key:\n"
        "  --key-file PATH      the first line of a file (keep it readable by you alone)\n"
        "  --key -              the first line of standard input, typed without echo at a terminal\n"
        "  --key KEY            the key itself; prefer the two above: a key on the command line can\n"
        "                       be read by other users in the process list and stays in your shell's history\n"
        "\n"
        "commands:\n"
        "  connect              sign in with the key (as above, else the remembered one)\n"
        "  presets              sign in and list the service's conversion presets\n"
        "  health               print the server build\n"
        "  logout               sign in, then sign out again on the service\n"
        "  remember-key [KEY|-] store the key (- : from standard input) in the keyring for automatic sign-in\n"
        "  forget-key           remove the remembered key\n"
        "  convert --preset ID [--jobs N] FILES...   convert files with a preset, N at a time\n"
        "  analyse FILES...     analyse audio files on the service\n"
        "  update check|download|install   check for, fetch, or install and relaunch an update\n"
        "  ffmpeg install [--from PROGRAM]  install ffmpeg from the service (or copy PROGRAM)\n");
}

} // namespace vorlik::app
