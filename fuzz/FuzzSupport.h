#pragma once
// What every fuzz target shares. The support library defines LLVMFuzzerInitialize: a private
// HOME and XDG folders (settings and logs of a run never touch the user's), the service origin
// pointed at a closed loopback port (nothing a target does can reach a real service), and one
// Qt core application for the targets that need an event loop. A property that does not hold
// ends the run through fail(), so libFuzzer keeps the input like any crash.
#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace vorlik::fuzz {

// The input as bytes and as text (invalid UTF-8 becomes replacement characters, as Qt reads it).
inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}
inline QString text(const uint8_t *data, size_t size) { return QString::fromUtf8(bytes(data, size)); }

// False when the text holds a surrogate without its partner (JSON's "\ud800" can make one):
// such text has no UTF-8 form, so it cannot survive being written out.
bool isWellFormed(const QString &text);
// True when JSON text escapes a surrogate ("\uD83D"), which may decode to an unpaired one.
bool escapesSurrogate(const QByteArray &json);

// The input cut at its first `count - 1` zero bytes: always `count` parts, the missing ones empty.
QList<QByteArray> parts(const uint8_t *data, size_t size, int count);

// Prints what failed, with the values involved, and aborts.
[[noreturn]] void fail(const char *property, const QString &detail);

// The private folder of this run (removed at exit).
QString runFolder();

} // namespace vorlik::fuzz

#define FUZZ_CHECK(condition, detail)                                                                                  \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::vorlik::fuzz::fail(#condition, (detail));                                                                \
    } while (false)
