#include "analysis/HttpResponseReader.h"

#include <gtest/gtest.h>

using vorlik::analysis::HttpResponseReader;
using State = HttpResponseReader::State;

namespace {

// `closed`: the peer closes the connection after the bytes.
struct Case { const char *name; QByteArray bytes; bool closed; State state; int status; QByteArray body; };

const QList<Case> &cases()
{
    static const QList<Case> list{
        {"length", "HTTP/1.1 200 OK\r\nContent-Length: 21\r\n\r\n{\"upload_id\":\"u-1\"}\r\nextra", false, State::complete,
         200, "{\"upload_id\":\"u-1\"}\r\n"},
        {"length zero", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, State::complete, 200, ""},
        {"no reason phrase", "HTTP/1.1 413\r\ncontent-length: 2\r\n\r\n{}", false, State::complete, 413, "{}"},
        {"chunked", "HTTP/1.1 500 Internal Server Error\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "4;name=value\r\nWiki\r\n5\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nTrailer: x\r\n\r\n",
         false, State::complete, 500, "Wikipedia in\r\n\r\nchunks."},
        {"until close", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nall of it", true, State::complete, 200, "all of it"},
        {"interim first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 1\r\n\r\nx", false,
         State::complete, 201, "x"},
        {"no content", "HTTP/1.1 204 No Content\r\n\r\n", false, State::complete, 204, ""},
        {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", false, State::complete, 200, "ok"},
        {"cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", true, State::reading, 200, "short"},
        {"closed in the header", "HTTP/1.1 200 OK\r\nContent-Le", true, State::reading, 200, ""},
    };
    return list;
}

// Answers that are not HTTP, contradict themselves or grow past the limits.
const QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const std::pair<const char *, QByteArray> refused[] = {
    {"not HTTP", "SSH-2.0-OpenSSH_9.2\r\n"}, {"HTTP/2 preface", "HTTP/2 200\r\n\r\n"},
    {"bad length", "HTTP/1.1 200 OK\r\nContent-Length: 1e3\r\n\r\n"},
    {"two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd"},
    {"bad chunk size", chunked + "zz\r\n"}, {"chunk longer than said", chunked + "2\r\nabc\r\n0\r\n\r\n"},
    {"chunk size with a prefix", chunked + "0x2\r\nab\r\n0\r\n\r\n"},
    {"endless chunk size line", chunked + "1;" + QByteArray(5000, 'x')},
    {"header line without a name", "HTTP/1.1 200 OK\r\n: x\r\n\r\n"},
    {"too large", "HTTP/1.1 200 OK\r\nContent-Length: 16777217\r\n\r\n"},
};

// Feeds the bytes in pieces of `piece` (0: all at once), then closes if `closed`.
HttpResponseReader read(const QByteArray &bytes, bool closed, qsizetype piece)
{
    HttpResponseReader reader;
    const qsizetype step = piece > 0 ? piece : std::max<qsizetype>(bytes.size(), 1);
    for (qsizetype at = 0; at < bytes.size(); at += step)
        reader.feed(bytes.constData() + at, std::min(step, bytes.size() - at));
    if (closed)
        reader.close();
    return reader;
}

TEST(HttpResponseReader, FramingsAndRefusalsHoweverTheBytesAreSplitHeaderFieldsAndLimits)
{
    for (const qsizetype piece : {qsizetype(0), qsizetype(1), qsizetype(7)}) {
        for (const Case &c : cases()) {
            SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
            const HttpResponseReader reader = read(c.bytes, c.closed, piece);
            EXPECT_EQ(std::tuple(reader.state(), reader.status(), reader.body()), std::tuple(c.state, c.status, c.body));
        }
        for (const auto &[name, bytes] : refused) {
            const HttpResponseReader reader = read(bytes, false, piece);
            EXPECT_EQ(reader.state(), State::malformed) << name << ", pieces of " << piece;
            EXPECT_FALSE(reader.problem().isEmpty()) << name;
        }
    }

    // The framing of a chunked body is not part of the header, however many chunks there are.
    const QByteArray body(20000, 'p');
    QByteArray chunks = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const char c : body)
        chunks += QByteArray("1\r\n") + c + "\r\n";
    HttpResponseReader chunked;
    EXPECT_EQ(chunked.feed(chunks + "0\r\n\r\n"), State::complete) << chunked.problem().toStdString();
    EXPECT_EQ(chunked.body(), body);

    HttpResponseReader reader;
    reader.feed("HTTP/1.1 200 OK\r\nX-Thing:  spaced value \r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(std::tuple(reader.state(), reader.header("x-thing"), reader.header("Missing")),
              std::tuple(State::complete, "spaced value", QByteArray()));

    // An endless header, or an endless body without a length, is refused rather than kept.
    HttpResponseReader endlessHeader, endlessBody;
    EXPECT_EQ(endlessHeader.feed("HTTP/1.1 200 OK\r\nX: " + QByteArray(80 * 1024, 'a')), State::malformed);
    EXPECT_EQ(endlessBody.feed("HTTP/1.1 200 OK\r\n\r\n" + QByteArray(20 << 20, 'b')), State::malformed);
    EXPECT_LE(endlessBody.body().size(), HttpResponseReader::maximumBodyBytes);
}

} // namespace
