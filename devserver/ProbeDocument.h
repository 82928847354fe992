#pragma once
// ffprobe's JSON (-show_format -show_streams -show_chapters) turned into the report's
// container, stream and chapter members. Numbers that ffprobe writes as strings (durations,
// bit rates, sizes, sample rates) are passed on as it wrote them, the way the service's report
// carries them; counts and indexes go out as numbers.
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace vorlik::devserver {

struct ProbeDocument {
    QJsonObject container;
    QJsonArray audioStreams;
    QJsonArray otherStreams;
    QJsonArray chapters;

    // What the decoder needs to know of the first audio stream (0 when ffprobe did not say).
    int channels = 0;
    int sampleRate = 0;
    QString channelLayout;

    static ProbeDocument fromProbe(const QJsonObject &probe);

    // "01:02:03.456"; none for a negative, infinite or NaN duration.
    static std::optional<QString> hms(double seconds);
    // A short name for common containers ("WAV", "FLAC"); none for the rest.
    static std::optional<QString> displayName(const QString &formatName);
};

} // namespace vorlik::devserver
