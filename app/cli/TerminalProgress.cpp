#include "app/cli/TerminalProgress.h"

#include <algorithm>
#include <unistd.h>

namespace vorlik::app {

bool TerminalProgress::errorStreamIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
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

void TerminalProgress::show(const QString &name, std::optional<double> fraction, const QString &text)
{
    if (!m_enabled)
        return;
    m_err << "\r\x1b[K" << name << ' ' << bar(fraction, 24, m_step++) << ' ' << text;
    m_err.flush();
    m_drawn = true;
}

void TerminalProgress::clear()
{
    if (!m_drawn)
        return;
    m_err << "\r\x1b[K";
    m_err.flush();
    m_drawn = false;
}

} // namespace vorlik::app
