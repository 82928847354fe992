#pragma once
// Real media for tests, made on the spot by Debian's ffmpeg from its built-in sources (lavfi):
// nothing binary is kept in the tree.
#include <QString>
#include <QStringList>

#include <ostream>

namespace vorlik::test {

struct TestMedia {
    // The ffmpeg the tests run.
    static QString ffmpeg();
    // Runs ffmpeg -y -hide_banner -loglevel error + arguments + output; fails the test if it fails.
    static QString make(const QString &output, const QStringList &arguments);
    static QString sine(const QString &output, double seconds = 0.3);
    static QString silence(const QString &output, const QString &channelLayout, double seconds = 0.3);
    // Writes an executable shell script.
    static QString script(const QString &path, const QByteArray &body);
};

} // namespace vorlik::test

// Readable QString and QStringList values in test failure messages.
inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList &list, std::ostream *out)
{
    *out << '[';
    for (qsizetype i = 0; i < list.size(); ++i)
        *out << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *out << ']';
}
