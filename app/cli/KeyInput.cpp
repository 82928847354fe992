#include "app/cli/KeyInput.h"

#include "platform/Failure.h"

#include <QFile>

#include <cstdio>
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

// Echo off while the key is typed at a terminal; back on however the reading ends.
class HiddenInput {
public:
    HiddenInput()
    {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        m_active = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        std::fputs("Client key: ", stderr);
        std::fflush(stderr);
    }
    ~HiddenInput()
    {
        if (!m_active)
            return;
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
        std::fputs("\n", stderr); // the user's Return was not echoed
    }

private:
    termios m_saved {};
    bool m_active = false;
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
    if (line.key != QLatin1String("-"))
        return line.key;
    const HiddenInput hidden;
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        throw Failure(QStringLiteral("cannot read the key from standard input: ") + input.errorString());
    return firstLine(input);
}

} // namespace vorlik::app
