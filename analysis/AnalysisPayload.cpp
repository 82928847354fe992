#include "analysis/AnalysisPayload.h"

// Fields are read in declaration order, so the first problem reported is the first field's.
namespace vorlik::analysis {
namespace {

QString field(const char *name) { return QString::fromLatin1(name); }

} // namespace

AnalysisFileInfo AnalysisFileInfo::decode(const KeyedObject &object)
{
    AnalysisFileInfo info;
    info.name = object.text(field("name"));
    return info;
}

AnalysisEngineInfo AnalysisEngineInfo::decode(const KeyedObject &object)
{
    AnalysisEngineInfo engine;
    engine.ffprobe = object.text(field("ffprobe"));
    engine.ffmpeg = object.text(field("ffmpeg"));
    engine.measurementBackend = object.text(field("measurementBackend"));
    return engine;
}

AnalysisContainer AnalysisContainer::decode(const KeyedObject &object)
{
    AnalysisContainer container;
    container.formatName = object.text(field("formatName"));
    container.formatLongName = object.text(field("formatLongName"));
    container.displayName = object.text(field("displayName"));
    container.durationSec = object.loose<LooseDouble>(field("durationSec"));
    container.durationHms = object.text(field("durationHms"));
    container.bitRateBps = object.loose<LooseDouble>(field("bitRateBps"));
    container.sizeBytes = object.loose<LooseDouble>(field("sizeBytes"));
    container.nbStreams = object.loose<LooseInt>(field("nbStreams"));
    container.probeScore = object.loose<LooseDouble>(field("probeScore"));
    container.tags = object.loose<LooseTags>(field("tags"));
    return container;
}

AnalysisStream AnalysisStream::decode(const KeyedObject &object)
{
    AnalysisStream stream;
    stream.index = object.loose<LooseInt>(field("index"));
    stream.codecType = object.text(field("codecType"));
    stream.codecName = object.text(field("codecName"));
    stream.codecLongName = object.text(field("codecLongName"));
    stream.codecTagString = object.text(field("codecTagString"));
    stream.sampleRateHz = object.loose<LooseDouble>(field("sampleRateHz"));
    stream.channels = object.loose<LooseInt>(field("channels"));
    stream.channelLayout = object.text(field("channelLayout"));
    stream.sampleFmt = object.text(field("sampleFmt"));
    stream.bitsPerSample = object.loose<LooseInt>(field("bitsPerSample"));
    stream.bitsPerRawSample = object.loose<LooseInt>(field("bitsPerRawSample"));
    stream.bitDepth = object.loose<LooseInt>(field("bitDepth"));
    stream.bitRateBps = object.loose<LooseDouble>(field("bitRateBps"));
    stream.effectiveBitRateBps = object.loose<LooseDouble>(field("effectiveBitRateBps"));
    stream.durationSec = object.loose<LooseDouble>(field("durationSec"));
    stream.durationHms = object.text(field("durationHms"));
    stream.language = object.text(field("language"));
    stream.title = object.text(field("title"));
    stream.tags = object.loose<LooseTags>(field("tags"));
    return stream;
}

AnalysisChapter AnalysisChapter::decode(const KeyedObject &object)
{
    AnalysisChapter chapter;
    chapter.id = object.loose<LooseInt>(field("id"));
    chapter.startSec = object.loose<LooseDouble>(field("startSec"));
    chapter.endSec = object.loose<LooseDouble>(field("endSec"));
    chapter.startHms = object.text(field("startHms"));
    chapter.endHms = object.text(field("endHms"));
    chapter.title = object.text(field("title"));
    return chapter;
}

AnalysisLevels AnalysisLevels::decode(const KeyedObject &object)
{
    AnalysisLevels levels;
    levels.peakDbfs = object.number(field("peakDbfs"));
    levels.astatsPeakDbfs = object.number(field("astatsPeakDbfs"));
    levels.rmsDbfs = object.number(field("rmsDbfs"));
    levels.noiseFloorDbfs = object.number(field("noiseFloorDbfs"));
    levels.flatFactor = object.number(field("flatFactor"));
    levels.peakCount = object.loose<LooseInt>(field("peakCount"));
    levels.sampleCount = object.loose<LooseInt>(field("sampleCount"));
    return levels;
}

AnalysisLoudness AnalysisLoudness::decode(const KeyedObject &object)
{
    AnalysisLoudness loudness;
    loudness.integratedLufs = object.number(field("integratedLufs"));
    loudness.thresholdLufs = object.number(field("thresholdLufs"));
    loudness.lraLu = object.number(field("lraLu"));
    loudness.lraLowLufs = object.number(field("lraLowLufs"));
    loudness.lraHighLufs = object.number(field("lraHighLufs"));
    loudness.truePeakDbfs = object.number(field("truePeakDbfs"));
    loudness.maxShortTermLufs = object.number(field("maxShortTermLufs"));
    loudness.maxMomentaryLufs = object.number(field("maxMomentaryLufs"));
    return loudness;
}

AnalysisPayload AnalysisPayload::decode(const KeyedObject &object)
{
    AnalysisPayload payload;
    payload.workflow = object.text(field("workflow"));
    payload.generatedAt = object.text(field("generatedAt"));
    payload.file = object.record<AnalysisFileInfo>(field("file"));
    payload.engine = object.record<AnalysisEngineInfo>(field("engine"));
    payload.container = object.record<AnalysisContainer>(field("container"));
    payload.audioStreams = object.list<AnalysisStream>(field("audioStreams"));
    payload.otherStreams = object.list<AnalysisStream>(field("otherStreams"));
    payload.chapters = object.list<AnalysisChapter>(field("chapters"));
    payload.levels = object.record<AnalysisLevels>(field("levels"));
    payload.loudness = object.record<AnalysisLoudness>(field("loudness"));
    return payload;
}

AnalysisPayload AnalysisPayload::fromJSON(const QByteArray &json)
{
    return decode(KeyedObject(service::json::parseObject(json), QString()));
}

} // namespace vorlik::analysis
