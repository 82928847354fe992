#include "convert/FFmpegProgress.h"

#include <algorithm>

namespace vorlik::convert {
namespace {

// The lines read here are short; anything longer is some other message.
constexpr qsizetype lineLimit = 1024;

// The text of `key` up to the next space or comma, when the line has it.
std::optional<QStringView> field(QStringView line, QStringView key)
{
    qsizetype at = line.indexOf(key);
    // A key inside another word ("Lsize=" holds "size=") does not count.
    while (at > 0 && !line[at - 1].isSpace())
        at = line.indexOf(key, at + 1);
    if (at < 0)
        return std::nullopt;
    QStringView value = line.sliced(at + key.size());
    while (!value.isEmpty() && value.front() == u' ')
        value = value.sliced(1);
    qsizetype end = 0;
    while (end < value.size() && value[end] != u' ' && value[end] != u',')
        ++end;
    return value.first(end);
}

} // namespace

std::optional<FFmpegProgress::Duration> FFmpegProgress::timestamp(QStringView text)
{
    if (text.startsWith(u'-'))
        return timestamp(text.sliced(1)).has_value() ? std::optional<Duration>(Duration(0)) : std::nullopt;
    const qsizetype firstColon = text.indexOf(u':');
    const qsizetype secondColon = firstColon < 0 ? -1 : text.indexOf(u':', firstColon + 1);
    if (firstColon <= 0 || secondColon < 0)
        return std::nullopt;
    bool ok = false;
    const qint64 hours = text.first(firstColon).toLongLong(&ok);
    if (!ok || hours < 0)
        return std::nullopt;
    const int minutes = text.sliced(firstColon + 1, secondColon - firstColon - 1).toInt(&ok);
    if (!ok || minutes < 0 || minutes > 59)
        return std::nullopt;
    const double seconds = text.sliced(secondColon + 1).toDouble(&ok);
    if (!ok || seconds < 0 || seconds >= 60)
        return std::nullopt;
    return Duration(hours * 3600000 + minutes * 60000 + qint64(seconds * 1000 + 0.5));
}

bool FFmpegProgress::read(QStringView chunk)
{
    bool changed = false;
    while (!chunk.isEmpty()) {
        qsizetype end = 0;
        while (end < chunk.size() && chunk[end] != u'\n' && chunk[end] != u'\r')
            ++end;
        const QStringView piece = chunk.first(end);
        const bool complete = end < chunk.size();
        chunk = complete ? chunk.sliced(end + 1) : QStringView();

        if (!m_overlong && m_line.size() + piece.size() > lineLimit) {
            m_overlong = true;
            m_line.clear();
        }
        if (!m_overlong)
            m_line += piece;
        if (!complete)
            break;
        if (!m_overlong && readLine(m_line))
            changed = true;
        m_line.clear();
        m_overlong = false;
    }
    return changed;
}

bool FFmpegProgress::readLine(QStringView line)
{
    const QStringView text = line.trimmed();
    if (text.isEmpty())
        return false;
    if (!m_inputDescribed) {
        // The first input's description, indented by exactly two spaces: a metadata tag named
        // "Duration" is indented further (and padded before its colon), and a line break in a
        // file name starts a line without that indent unless the name itself holds the spaces.
        if (line.startsWith(QLatin1String("  Duration: "))) {
            m_inputDescribed = true;
            const std::optional<QStringView> value = field(text, u"Duration:");
            m_duration = value ? timestamp(*value) : std::nullopt;
            if (m_duration && m_duration->count() <= 0)
                m_duration.reset();
            return m_duration.has_value();
        }
        if (text.startsWith(QLatin1String("Output #")) || text.startsWith(QLatin1String("Stream mapping:")))
            m_inputDescribed = true; // no duration was given
    }
    // A status line: "size= … time=00:00:02.89 bitrate= … speed= …" ("frame= …" first for video).
    if (!text.contains(QLatin1String("time=")) || !text.contains(QLatin1String("speed=")))
        return false;
    const std::optional<QStringView> value = field(text, u"time=");
    const std::optional<Duration> position = value ? timestamp(*value) : std::nullopt;
    if (!position || *position <= m_position)
        return false;
    m_position = *position;
    return true;
}

std::optional<double> FFmpegProgress::fraction() const
{
    if (!m_duration)
        return std::nullopt;
    return std::clamp(double(m_position.count()) / double(m_duration->count()), 0.0, 1.0);
}

} // namespace vorlik::convert
