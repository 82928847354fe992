#include "analysis/HttpResponseReader.h"

#include <algorithm>

namespace vorlik::analysis {
namespace {

bool isDigits(const QByteArray &text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

HttpResponseReader::State HttpResponseReader::feed(const char *data, qsizetype size)
{
    if (m_state != State::reading)
        return m_state;
    m_pending.append(data, size);
    while (m_state == State::reading && step()) {
    }
    return m_state;
}

HttpResponseReader::State HttpResponseReader::close()
{
    if (m_state == State::reading && m_part == Part::body && m_remaining < 0)
        m_state = State::complete;
    return m_state;
}

QByteArray HttpResponseReader::header(const QByteArray &name) const
{
    for (const auto &[key, value] : m_headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

HttpResponseReader::State HttpResponseReader::fail(const QString &problem)
{
    m_state = State::malformed;
    m_problem = problem;
    m_pending.clear();
    return m_state;
}

bool HttpResponseReader::takeLine(QByteArray &line, Line kind)
{
    // The framing of a chunked body is counted line by line, not against the header: a long
    // answer in small chunks has as much framing as body.
    const qsizetype end = m_pending.indexOf('\n');
    const qsizetype length = end < 0 ? m_pending.size() : end + 1;
    if (kind == Line::framing ? length > maximumFramingLineBytes : m_headerBytes + length > maximumHeaderBytes) {
        fail(kind == Line::framing ? QStringLiteral("a chunk of the answer has an overlong size line")
                                   : QStringLiteral("the header of the answer is too long"));
        return false;
    }
    if (end < 0)
        return false;
    if (kind == Line::header)
        m_headerBytes += length;
    line = m_pending.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    m_pending.remove(0, length);
    return true;
}

bool HttpResponseReader::step()
{
    QByteArray line;
    switch (m_part) {
    case Part::statusLine:
        if (!takeLine(line, Line::header))
            return false;
        return parseStatusLine(line);
    case Part::headers:
        if (!takeLine(line, Line::header))
            return false;
        if (!line.isEmpty())
            return parseHeader(line);
        if (m_status < 200) { // interim: the final answer follows
            m_headers.clear();
            m_part = Part::statusLine;
            return true;
        }
        return startBody();
    case Part::body: {
        if (m_pending.isEmpty())
            return false;
        const qsizetype take = m_remaining < 0 ? m_pending.size() : qsizetype(std::min<qint64>(m_remaining, m_pending.size()));
        if (!appendBody(m_pending.constData(), take))
            return false;
        m_pending.remove(0, take);
        if (m_remaining >= 0) {
            m_remaining -= take;
            if (m_remaining == 0)
                m_part = Part::done;
        }
        return true;
    }
    case Part::chunkSize: {
        if (!takeLine(line, Line::framing))
            return false;
        const qsizetype extension = line.indexOf(';');
        const QByteArray digits = (extension < 0 ? line : line.left(extension)).trimmed();
        // Hexadecimal digits and nothing else: no sign, no "0x".
        bool ok = !digits.isEmpty() && digits.size() <= 15 && std::all_of(digits.begin(), digits.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        });
        const qint64 size = ok ? digits.toLongLong(&ok, 16) : 0;
        if (!ok || size < 0) {
            fail(QStringLiteral("the answer has a malformed chunk size"));
            return false;
        }
        m_remaining = size;
        m_part = size == 0 ? Part::trailers : Part::chunkData;
        return true;
    }
    case Part::chunkData: {
        if (m_pending.isEmpty())
            return false;
        const qsizetype take = qsizetype(std::min<qint64>(m_remaining, m_pending.size()));
        if (!appendBody(m_pending.constData(), take))
            return false;
        m_pending.remove(0, take);
        m_remaining -= take;
        if (m_remaining == 0)
            m_part = Part::chunkEnd;
        return true;
    }
    case Part::chunkEnd:
        if (!takeLine(line, Line::framing))
            return false;
        if (!line.isEmpty()) {
            fail(QStringLiteral("a chunk of the answer does not end where its size says"));
            return false;
        }
        m_part = Part::chunkSize;
        return true;
    case Part::trailers:
        if (!takeLine(line, Line::header))
            return false;
        if (line.isEmpty())
            m_part = Part::done;
        return true;
    case Part::done:
        m_state = State::complete;
        m_pending.clear();
        return false;
    }
    return false;
}

bool HttpResponseReader::parseStatusLine(const QByteArray &line)
{
    // "HTTP/1.1 200 OK"; the reason phrase may be empty or missing.
    const bool versionOK = line.size() >= 12 && line.startsWith("HTTP/1.") && line.at(7) >= '0' && line.at(7) <= '9'
        && line.at(8) == ' ';
    const QByteArray code = line.mid(9, 3);
    if (!versionOK || !isDigits(code) || (line.size() > 12 && line.at(12) != ' ')) {
        fail(QStringLiteral("the answer is not an HTTP response"));
        return false;
    }
    m_status = code.toInt();
    if (m_status < 100) {
        fail(QStringLiteral("the answer is not an HTTP response"));
        return false;
    }
    m_part = Part::headers;
    return true;
}

bool HttpResponseReader::parseHeader(const QByteArray &line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || line.at(0) == ' ' || line.at(0) == '\t' || line.left(colon).contains(' ')) {
        fail(QStringLiteral("the answer has a malformed header line"));
        return false;
    }
    m_headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    return true;
}

bool HttpResponseReader::startBody()
{
    if (m_status == 204 || m_status == 304) {
        m_part = Part::done;
        return true;
    }
    QByteArray coding;
    for (const auto &[key, value] : std::as_const(m_headers))
        if (key.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0)
            coding = value; // the last coding applied decides the framing
    if (!coding.isEmpty()) {
        const QByteArray last = coding.split(',').last().trimmed().toLower();
        m_part = last == "chunked" ? Part::chunkSize : Part::body;
        m_remaining = -1;
        return true;
    }
    qint64 length = -1;
    for (const auto &[key, value] : std::as_const(m_headers)) {
        if (key.compare("Content-Length", Qt::CaseInsensitive) != 0)
            continue;
        bool ok = isDigits(value) && value.size() <= 15;
        const qint64 given = ok ? value.toLongLong(&ok) : -1;
        if (!ok || (length >= 0 && given != length)) {
            fail(QStringLiteral("the answer has a malformed Content-Length"));
            return false;
        }
        length = given;
    }
    if (length > maximumBodyBytes) {
        fail(QStringLiteral("the answer is too large"));
        return false;
    }
    m_remaining = length;
    m_part = length == 0 ? Part::done : Part::body;
    return true;
}

bool HttpResponseReader::appendBody(const char *data, qsizetype size)
{
    if (m_body.size() + size > maximumBodyBytes) {
        fail(QStringLiteral("the answer is too large"));
        return false;
    }
    m_body.append(data, size);
    return true;
}

} // namespace vorlik::analysis
