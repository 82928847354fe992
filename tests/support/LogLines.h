#pragma once
// Reading back what the code under test wrote to the diagnostics log.
#include "diagnostics/DiagnosticsLogger.h"

#include <QString>
#include <QStringList>

namespace vorlik::test {

// Log lines of one category written since construction, without their timestamps.
class LogLines {
public:
    explicit LogLines(QString category)
        : m_tag(QStringLiteral(" [") + category + QStringLiteral("] ")),
          m_mark(diagnostics::DiagnosticsLogger::shared().bufferSnapshot().size())
    {
    }

    QStringList lines() const
    {
        QStringList found;
        for (QString line : diagnostics::DiagnosticsLogger::shared().bufferSnapshot().mid(m_mark)) {
            const qsizetype start = line.indexOf(m_tag);
            if (start < 0)
                continue;
            for (line = line.mid(start + m_tag.size()); line.endsWith(QLatin1Char('\n'));)
                line.chop(1);
            found.append(line);
        }
        return found;
    }

private:
    QString m_tag;
    qsizetype m_mark;
};

} // namespace vorlik::test
