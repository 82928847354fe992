#pragma once
// What the ffmpeg install is doing: idle, downloading, extracting, or failed with the text
// the install sheet shows.
#include <QMetaType>
#include <QString>

namespace vorlik::ffmpeg {

struct InstallPhase {
    enum class Kind { idle, downloading, extracting, failed };

    Kind kind = Kind::idle;
    QString message; // failed only

    static InstallPhase idle() { return {}; }
    static InstallPhase downloading() { return {Kind::downloading, {}}; }
    static InstallPhase extracting() { return {Kind::extracting, {}}; }
    static InstallPhase failed(QString message) { return {Kind::failed, std::move(message)}; }

    friend bool operator==(const InstallPhase &, const InstallPhase &) = default;
};

} // namespace vorlik::ffmpeg

Q_DECLARE_METATYPE(vorlik::ffmpeg::InstallPhase)
