#include "app/cli/TerminalProgress.h"

#include <algorithm>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vorlik::app {

namespace {
constexpr int barCells = 24;
}

bool TerminalProgress::errorStreamIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int TerminalProgress::errorStreamWidth()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    bool ok = false;
    const int columns = qEnvironmentVariable("COLUMNS").toInt(&ok);
    return ok && columns > 0 ? columns : 80;
}

QString TerminalProgress::bar(std::optional<double> fraction, int width, int step)
{
    QString cells(width, u'-');
    if (fraction) {
        const int filled = int(std::clamp(*fraction, 0.0, 1.0) * width);
        cells.replace(0, filled, QString(filled, u'#'));
    } else {
        const int block = std::max(1, width / 5);
        const int span = std::max(1, width - block);
        const int at = step % (2 * span) < span ? step % span : span - step % span; // back and forth
        cells.replace(at, block, QString(block, u'#'));
    }
    return u'[' + cells + u']';
}

QString TerminalProgress::fitted(const Line &line, int columns, int step)
{
    const QString rest = u' ' + bar(line.fraction, barCells, step) + u' ' + line.text;
    const qsizetype room = columns - 1 - rest.size(); // the last column would wrap the line
    QString name = line.name;
    if (name.size() > room) {
        // "a very lo…take 12.wav": both ends of a name say the most about it.
        const qsizetype kept = std::max<qsizetype>(room - 1, 2);
        name = name.left(kept - kept / 2) + u'…' + name.right(kept / 2);
    }
    return (name + rest).left(std::max(columns - 1, 1));
}

void TerminalProgress::show(const QList<Line> &lines)
{
    if (!m_enabled)
        return;
    if (lines.isEmpty()) {
        clear();
        return;
    }
    const int columns = errorStreamWidth();
    const int step = m_step++;
    // Back to the first line drawn, and everything from there erased.
    m_err << '\r';
    if (m_drawn > 1)
        m_err << "\x1b[" << (m_drawn - 1) << 'A';
    m_err << "\x1b[J";
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            m_err << '\n';
        m_err << fitted(lines.at(i), columns, step);
    }
    m_err.flush();
    m_drawn = int(lines.size());
}

void TerminalProgress::clear()
{
    if (m_drawn == 0)
        return;
    m_err << '\r';
    if (m_drawn > 1)
        m_err << "\x1b[" << (m_drawn - 1) << 'A';
    m_err << "\x1b[J";
    m_err.flush();
    m_drawn = 0;
}

} // namespace vorlik::app
