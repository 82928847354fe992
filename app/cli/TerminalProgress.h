#pragma once
// The one-line progress bar of the command line, drawn on the error stream over and over in
// place ("\r", then the line cleared) only when that stream is a terminal. Anywhere else
// (a pipe, a file, a CI log) it draws nothing, so those see the item and status texts alone.
#include <QString>
#include <QTextStream>

#include <optional>

namespace vorlik::app {

class TerminalProgress {
public:
    TerminalProgress(QTextStream &err, bool enabled) : m_err(err), m_enabled(enabled) {}
    ~TerminalProgress() { clear(); }

    // The error stream of this process is a terminal.
    static bool errorStreamIsTerminal();

    // Draws "name [#######-----------] text" in place of the last line drawn. Without a
    // fraction the bar shows a block that moves on with each drawing.
    void show(const QString &name, std::optional<double> fraction, const QString &text);
    // Erases the line drawn, before anything else is printed.
    void clear();

    // "[#####---------------]", `width` cells between the brackets.
    static QString bar(std::optional<double> fraction, int width, int step);

private:
    QTextStream &m_err;
    const bool m_enabled;
    bool m_drawn = false;
    int m_step = 0;
};

} // namespace vorlik::app
