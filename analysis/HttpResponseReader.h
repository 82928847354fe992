#pragma once
// Reads one HTTP/1.1 response as its bytes arrive: the status line, the header fields, and the
// body framed by Content-Length, by chunked transfer coding, or by the end of the connection.
// Interim (1xx) responses are passed over. Limits keep a hostile peer from growing it without
// bound: the header block, each line of a chunked body's framing and the body each have a
// ceiling, past which the response is refused.
#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace vorlik::analysis {

class HttpResponseReader {
public:
    enum class State { reading, complete, malformed };

    static constexpr qsizetype maximumHeaderBytes = 65536;
    // One line of a chunked body's framing: a size with its extensions, or a chunk's end.
    static constexpr qsizetype maximumFramingLineBytes = 4096;
    static constexpr qsizetype maximumBodyBytes = 16 * 1024 * 1024;

    // Takes the next bytes of the connection; returns the state after them. Bytes after a
    // complete response are ignored.
    State feed(const char *data, qsizetype size);
    State feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }
    // The peer closed the connection: completes a body that runs to the end of the connection,
    // and leaves any other unfinished response unfinished.
    State close();

    State state() const { return m_state; }
    int status() const { return m_status; }
    const QByteArray &body() const { return m_body; }
    // The first value of a header field (names compared without regard to case).
    QByteArray header(const QByteArray &name) const;
    // Why the response was refused, for the error the caller reports.
    const QString &problem() const { return m_problem; }

private:
    enum class Part { statusLine, headers, body, chunkSize, chunkData, chunkEnd, trailers, done };

    bool step();
    // A line of the header block (or trailers), or of a chunked body's framing.
    enum class Line { header, framing };
    bool takeLine(QByteArray &line, Line kind);
    bool parseStatusLine(const QByteArray &line);
    bool parseHeader(const QByteArray &line);
    bool startBody();
    bool appendBody(const char *data, qsizetype size);
    State fail(const QString &problem);

    State m_state = State::reading;
    Part m_part = Part::statusLine;
    QByteArray m_pending;  // received, not yet parsed
    qsizetype m_headerBytes = 0;
    int m_status = 0;
    QList<std::pair<QByteArray, QByteArray>> m_headers;
    qint64 m_remaining = -1; // body or chunk bytes still to come; -1: until the connection ends
    QByteArray m_body;
    QString m_problem;
};

} // namespace vorlik::analysis
