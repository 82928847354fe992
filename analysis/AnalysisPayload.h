#pragma once
// The analysis report of one audio file, as the service sends it in a finished job's status
// document: container, streams, chapters, sample levels and EBU R128 loudness. Values with value
// equality, only ever decoded. Every field is optional (absent and null leave it empty).
// Member names on the wire are snake_case and matched under snake-case conversion
// (KeyedObject); text, numbers, records and lists are strict, the Loose* fields tolerant.
#include "analysis/KeyedObject.h"
#include "analysis/LooseValues.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vorlik::analysis {

struct AnalysisFileInfo {
    std::optional<QString> name; // "name": the file name as the service saw it

    static AnalysisFileInfo decode(const KeyedObject &object);
    bool operator==(const AnalysisFileInfo &) const = default;
};

struct AnalysisEngineInfo {
    std::optional<QString> ffprobe;            // "ffprobe"
    std::optional<QString> ffmpeg;             // "ffmpeg"
    std::optional<QString> measurementBackend; // "measurement_backend"

    static AnalysisEngineInfo decode(const KeyedObject &object);
    bool operator==(const AnalysisEngineInfo &) const = default;
};

struct AnalysisContainer {
    std::optional<QString> formatName;     // "format_name"
    std::optional<QString> formatLongName; // "format_long_name"
    std::optional<QString> displayName;    // "display_name"
    std::optional<LooseDouble> durationSec; // "duration_sec"
    std::optional<QString> durationHms;    // "duration_hms"
    std::optional<LooseDouble> bitRateBps; // "bit_rate_bps"
    std::optional<LooseDouble> sizeBytes;  // "size_bytes"
    std::optional<LooseInt> nbStreams;     // "nb_streams"
    std::optional<LooseDouble> probeScore; // "probe_score"
    std::optional<LooseTags> tags;         // "tags"

    static AnalysisContainer decode(const KeyedObject &object);
    bool operator==(const AnalysisContainer &) const = default;
};

// Used for both audio and other streams.
struct AnalysisStream {
    std::optional<LooseInt> index;                  // "index"
    std::optional<QString> codecType;               // "codec_type"
    std::optional<QString> codecName;               // "codec_name"
    std::optional<QString> codecLongName;           // "codec_long_name"
    std::optional<QString> codecTagString;          // "codec_tag_string"
    std::optional<LooseDouble> sampleRateHz;        // "sample_rate_hz"
    std::optional<LooseInt> channels;               // "channels"
    std::optional<QString> channelLayout;           // "channel_layout"
    std::optional<QString> sampleFmt;               // "sample_fmt"
    std::optional<LooseInt> bitsPerSample;          // "bits_per_sample"
    std::optional<LooseInt> bitsPerRawSample;       // "bits_per_raw_sample"
    std::optional<LooseInt> bitDepth;               // "bit_depth"
    std::optional<LooseDouble> bitRateBps;          // "bit_rate_bps"
    std::optional<LooseDouble> effectiveBitRateBps; // "effective_bit_rate_bps"
    std::optional<LooseDouble> durationSec;         // "duration_sec"
    std::optional<QString> durationHms;             // "duration_hms"
    std::optional<QString> language;                // "language"
    std::optional<QString> title;                   // "title"
    std::optional<LooseTags> tags;                  // "tags"

    static AnalysisStream decode(const KeyedObject &object);
    bool operator==(const AnalysisStream &) const = default;
};

struct AnalysisChapter {
    std::optional<LooseInt> id;          // "id"
    std::optional<LooseDouble> startSec; // "start_sec"
    std::optional<LooseDouble> endSec;   // "end_sec"
    std::optional<QString> startHms;     // "start_hms"
    std::optional<QString> endHms;       // "end_hms"
    std::optional<QString> title;        // "title"

    static AnalysisChapter decode(const KeyedObject &object);
    bool operator==(const AnalysisChapter &) const = default;
};

// The five levels are strict numbers; the two counts are tolerant.
struct AnalysisLevels {
    std::optional<double> peakDbfs;       // "peak_dbfs"
    std::optional<double> astatsPeakDbfs; // "astats_peak_dbfs"
    std::optional<double> rmsDbfs;        // "rms_dbfs"
    std::optional<double> noiseFloorDbfs; // "noise_floor_dbfs"
    std::optional<double> flatFactor;     // "flat_factor"
    std::optional<LooseInt> peakCount;    // "peak_count"
    std::optional<LooseInt> sampleCount;  // "sample_count"

    static AnalysisLevels decode(const KeyedObject &object);
    bool operator==(const AnalysisLevels &) const = default;
};

// All strict numbers.
struct AnalysisLoudness {
    std::optional<double> integratedLufs;   // "integrated_lufs"
    std::optional<double> thresholdLufs;    // "threshold_lufs"
    std::optional<double> lraLu;            // "lra_lu"
    std::optional<double> lraLowLufs;       // "lra_low_lufs"
    std::optional<double> lraHighLufs;      // "lra_high_lufs"
    std::optional<double> truePeakDbfs;     // "true_peak_dbfs"
    std::optional<double> maxShortTermLufs; // "max_short_term_lufs"
    std::optional<double> maxMomentaryLufs; // "max_momentary_lufs"

    static AnalysisLoudness decode(const KeyedObject &object);
    bool operator==(const AnalysisLoudness &) const = default;
};

struct AnalysisPayload {
    std::optional<QString> workflow;                   // "workflow"
    std::optional<QString> generatedAt;                // "generated_at", kept as sent
    std::optional<AnalysisFileInfo> file;              // "file"
    std::optional<AnalysisEngineInfo> engine;          // "engine"
    std::optional<AnalysisContainer> container;        // "container"
    std::optional<QList<AnalysisStream>> audioStreams; // "audio_streams"
    std::optional<QList<AnalysisStream>> otherStreams; // "other_streams"
    std::optional<QList<AnalysisChapter>> chapters;    // "chapters"
    std::optional<AnalysisLevels> levels;              // "levels"
    std::optional<AnalysisLoudness> loudness;          // "loudness"

    static AnalysisPayload decode(const KeyedObject &object);
    // A report document on its own; throws service::DecodingError naming the first problem.
    static AnalysisPayload fromJSON(const QByteArray &json);
    bool operator==(const AnalysisPayload &) const = default;
};

} // namespace vorlik::analysis
