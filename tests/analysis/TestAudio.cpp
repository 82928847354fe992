#include "tests/analysis/TestAudio.h"

#include <QRandomGenerator>
#include <QtEndian>

#include <cmath>

namespace vorlik::test {

QByteArray sineWAV(double seconds)
{
    const int rate = 44100;
    const int frames = int(seconds * rate);
    QByteArray data(frames * 4, Qt::Uninitialized);
    for (int i = 0; i < frames; ++i) {
        const auto sample = qint16(std::lround(0.5 * 32767 * std::sin(2 * M_PI * 997 * i / rate)));
        qToLittleEndian(sample, data.data() + i * 4);
        qToLittleEndian(sample, data.data() + i * 4 + 2);
    }
    QByteArray wav("RIFF");
    const auto u32 = [](quint32 v) { QByteArray b(4, 0); qToLittleEndian(v, b.data()); return b; };
    const auto u16 = [](quint16 v) { QByteArray b(2, 0); qToLittleEndian(v, b.data()); return b; };
    wav += u32(36 + data.size()) + "WAVEfmt " + u32(16) + u16(1) + u16(2) + u32(rate) + u32(rate * 4) + u16(4)
        + u16(16) + "data" + u32(data.size()) + data;
    return wav;
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(17);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.bounded(256));
    return bytes;
}

} // namespace vorlik::test
