#include "fuzz/FuzzSupport.h"

#include "platform/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace vorlik::fuzz {
namespace {

QTemporaryDir *folder = nullptr;

void removeFolder()
{
    delete folder;
    folder = nullptr;
}

} // namespace

QList<QByteArray> parts(const uint8_t *data, size_t size, int count)
{
    QList<QByteArray> result;
    const QByteArray all = bytes(data, size);
    qsizetype at = 0;
    for (int i = 0; i < count - 1; ++i) {
        const qsizetype zero = all.indexOf('\0', at);
        if (zero < 0) {
            result.append(all.mid(at));
            at = all.size();
            continue;
        }
        result.append(all.mid(at, zero - at));
        at = zero + 1;
    }
    result.append(all.mid(at));
    while (result.size() < count)
        result.append(QByteArray());
    return result;
}

bool isWellFormed(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            return false;
    }
    return true;
}

bool escapesSurrogate(const QByteArray &json)
{
    const QByteArray lower = json.toLower();
    return lower.contains("\\ud8") || lower.contains("\\ud9") || lower.contains("\\uda") || lower.contains("\\udb")
        || lower.contains("\\udc") || lower.contains("\\udd") || lower.contains("\\ude") || lower.contains("\\udf");
}

void fail(const char *property, const QString &detail)
{
    std::fprintf(stderr, "\n==vorlik-fuzz== property failed: %s\n==vorlik-fuzz== %s\n", property,
                 detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

QString runFolder() { return folder ? folder->path() : QString(); }

} // namespace vorlik::fuzz

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    using namespace vorlik;
    fuzz::folder = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/vorlik-fuzz-home-XXXXXX"));
    std::atexit(fuzz::removeFolder);
    const QByteArray root = fuzz::folder->path().toUtf8();
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    qputenv("TZ", "UTC");
    // Made once and never destroyed: targets that need an event loop share it.
    new QCoreApplication(*argc, *argv);
    // Port 9 (discard) on loopback: nothing listens, so a request fails at once.
    platform::Settings::standard().setOverride(QStringLiteral("baseURL"), QStringLiteral("http://127.0.0.1:9"));
    return 0;
}
