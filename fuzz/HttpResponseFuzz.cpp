// The upload's answer: HttpResponseReader fed arbitrary bytes. However the bytes are split into
// pieces, and whether or not the connection ends after them, the reader reaches the same
// state, status and body; a complete body never exceeds the limit; a refusal says why.
#include "analysis/HttpResponseReader.h"
#include "fuzz/FuzzSupport.h"

using vorlik::analysis::HttpResponseReader;

namespace {

QString describe(const HttpResponseReader &reader)
{
    return QStringLiteral("state %1 status %2 body %3 bytes (%4)")
        .arg(int(reader.state()))
        .arg(reader.status())
        .arg(reader.body().size())
        .arg(reader.problem());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte chooses the piece size of the second reading and whether the peer closes.
    if (size == 0)
        return 0;
    const qsizetype piece = 1 + data[0] % 17;
    const bool closes = data[0] & 0x80;
    const QByteArray bytes = vorlik::fuzz::bytes(data + 1, size - 1);

    HttpResponseReader whole;
    whole.feed(bytes);
    if (closes)
        whole.close();
    HttpResponseReader pieces;
    for (qsizetype at = 0; at < bytes.size(); at += piece)
        pieces.feed(bytes.constData() + at, std::min(piece, bytes.size() - at));
    if (closes)
        pieces.close();

    FUZZ_CHECK(whole.state() == pieces.state(), describe(whole) + QStringLiteral(" / ") + describe(pieces));
    FUZZ_CHECK(whole.body().size() <= HttpResponseReader::maximumBodyBytes, describe(whole));
    if (whole.state() == HttpResponseReader::State::malformed) {
        FUZZ_CHECK(!whole.problem().isEmpty() && !pieces.problem().isEmpty(), describe(whole));
        return 0;
    }
    FUZZ_CHECK(whole.status() == pieces.status() && whole.body() == pieces.body(),
               describe(whole) + QStringLiteral(" / ") + describe(pieces));
    if (whole.state() == HttpResponseReader::State::complete)
        FUZZ_CHECK(whole.status() >= 200 && whole.status() <= 999, describe(whole));
    return 0;
}
