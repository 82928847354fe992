#include "app/cli/KeyInput.h"

#include "platform/Failure.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace vorlik::app {
namespace {

constexpr qint64 longestLine = 65536; // far more than any key

QString firstLine(QFile &source)
{
    QByteArray line = source.readLine(longestLine);
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

// The terminal's own settings while the prompt is up: a signal handler can reach nothing else.
termios promptSaved {};
termios promptQuiet {};
constexpr int promptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void onPromptSignal(int signal)
{
    const int savedErrno = errno;
    tcsetattr(STDIN_FILENO, TCSANOW, &promptSaved);
    struct sigaction ours {};
    sigaction(signal, nullptr, &ours);
    ::signal(signal, SIG_DFL);
    sigset_t just {};
    sigemptyset(&just);
    sigaddset(&just, signal);
    // The default action now: the program ends, or (Ctrl-Z) stops until it is continued,
    // when the prompt takes over the terminal again.
    raise(signal);
    sigprocmask(SIG_UNBLOCK, &just, nullptr);
    sigaction(signal, &ours, nullptr);
    tcsetattr(STDIN_FILENO, TCSANOW, &promptQuiet);
    errno = savedErrno;
}

// Echo off while the key is typed at a terminal; back on however the reading ends, a signal
// (Ctrl-C, Ctrl-Z, a kill) included.
class HiddenInput {
public:
    HiddenInput()
    {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &promptSaved) != 0)
            return;
        promptQuiet = promptSaved;
        promptQuiet.c_lflag &= ~tcflag_t(ECHO);
        struct sigaction handler {};
        handler.sa_handler = onPromptSignal;
        sigemptyset(&handler.sa_mask);
        handler.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(promptSignals); ++i)
            sigaction(promptSignals[i], &handler, &m_previous[i]);
        m_active = tcsetattr(STDIN_FILENO, TCSAFLUSH, &promptQuiet) == 0;
        m_handlers = true;
        std::fputs("Client key: ", stderr);
        std::fflush(stderr);
    }
    ~HiddenInput()
    {
        if (m_active) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &promptSaved);
            std::fputs("\n", stderr); // the user's Return was not echoed
        }
        if (m_handlers)
            for (std::size_t i = 0; i < std::size(promptSignals); ++i)
                sigaction(promptSignals[i], &m_previous[i], nullptr);
    }
    HiddenInput(const HiddenInput &) = delete;
    HiddenInput &operator=(const HiddenInput &) = delete;

private:
    struct sigaction m_previous[std::size(promptSignals)] {};
    bool m_active = false;
    bool m_handlers = false;
};

} // namespace

std::optional<QString> KeyInput::read(const CommandLine &line)
{
    if (line.keyFile) {
        QFile file(*line.keyFile);
        if (!file.open(QIODevice::ReadOnly))
            throw Failure(QStringLiteral("cannot read the key file ") + *line.keyFile + QStringLiteral(": ")
                          + file.errorString());
        return firstLine(file);
    }
    const bool rememberFromInput =
        line.command == QLatin1String("remember-key") && line.arguments.value(0) == QLatin1String("-");
    if (line.key != QLatin1String("-") && !rememberFromInput)
        return line.key;
    const HiddenInput hidden;
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        throw Failure(QStringLiteral("cannot read the key from standard input: ") + input.errorString());
    return firstLine(input);
}

} // namespace vorlik::app
