#pragma once
// How far an ffmpeg run has got, read from its own error stream as it arrives: the duration of
// the first input, from the "Duration:" line of the description ffmpeg prints before it starts,
// and the media time written so far, from the "time=" of the status line it rewrites (ended by
// a carriage return) about twice a second. Nothing is added to the command line, so the output
// files and the error stream are exactly what the script alone gives; a script that silences
// ffmpeg's messages simply shows no position or no duration.
#include <QString>
#include <QStringView>

#include <chrono>
#include <optional>

namespace vorlik::convert {

class FFmpegProgress {
public:
    using Duration = std::chrono::milliseconds;

    // One more piece of the error stream, in the order written; a line split between two
    // pieces is joined. True when the duration or the position changed.
    bool read(QStringView chunk);

    // The first input's duration; none until ffmpeg has described the input, and none when it
    // says "N/A" (a stream of unknown length).
    std::optional<Duration> duration() const { return m_duration; }
    // The media time written so far; never goes back.
    Duration position() const { return m_position; }
    // position / duration, between 0 and 1; none without a duration. A source that ends before
    // its stated duration never reaches 1 here: the run's end says it is done.
    std::optional<double> fraction() const;

    // "HH:MM:SS.fraction" (hours of any width; a leading "-" reads as zero); none otherwise.
    static std::optional<Duration> timestamp(QStringView text);

private:
    bool readLine(QStringView line);

    QString m_line;          // the line being received
    bool m_overlong = false; // the line being received passed the limit: skip it to its end
    bool m_inputDescribed = false;
    std::optional<Duration> m_duration;
    Duration m_position{0};
};

} // namespace vorlik::convert
