#pragma once
// The progress bars of the command line, one line per file, drawn on the error stream over and
// over in place (back to the first line, then the rest of the screen cleared) only when that
// stream is a terminal. Anywhere else (a pipe, a file, a CI log) it draws nothing, so those see
// the item and status texts alone.
#include <QList>
#include <QString>
#include <QTextStream>

#include <optional>

namespace vorlik::app {

class TerminalProgress {
public:
    // One file's line: "name [#######-----------] text".
    struct Line {
        QString name;
        std::optional<double> fraction; // none: a block that moves on with each drawing
        QString text;
    };

    TerminalProgress(QTextStream &err, bool enabled) : m_err(err), m_enabled(enabled) {}
    ~TerminalProgress() { clear(); }

    // The error stream of this process is a terminal.
    static bool errorStreamIsTerminal();
    // Its width in columns: the terminal's own, else COLUMNS, else 80.
    static int errorStreamWidth();

    // Draws the lines in place of those drawn last, each shorter than the terminal is wide (a
    // longer one would wrap, and the copy left above would never be erased).
    void show(const QList<Line> &lines);
    void show(const QString &name, std::optional<double> fraction, const QString &text)
    {
        show({Line{name, fraction, text}});
    }
    // Erases the lines drawn, before anything else is printed.
    void clear();

    // "[#####---------------]", `width` cells between the brackets.
    static QString bar(std::optional<double> fraction, int width, int step);
    // The line as drawn within `columns`: the name shortened in its middle first.
    static QString fitted(const Line &line, int columns, int step);

private:
    QTextStream &m_err;
    const bool m_enabled;
    int m_drawn = 0; // lines on screen, the cursor at the end of the last
    int m_step = 0;
};

} // namespace vorlik::app
