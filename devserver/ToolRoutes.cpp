#include "devserver/ToolRoutes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace vorlik::devserver {

namespace {

constexpr size_t sendBlock = 256 * 1024;

// One open file shared by the provider calls of a response, closed with the last of them.
struct OpenFile {
    int fd = -1;
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

QString sha256OfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

// Zips `program` as the single entry "ffmpeg" (mode 0755); an error text when it cannot.
QString writeZip(const QString &program, const QString &zipPath)
{
    QFile source(program);
    if (!source.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read ") + program + QStringLiteral(": ") + source.errorString();
    std::unique_ptr<archive, int (*)(archive *)> writer(archive_write_new(), archive_write_free);
    archive_write_set_format_zip(writer.get());
    if (archive_write_open_filename(writer.get(), QFile::encodeName(zipPath).constData()) != ARCHIVE_OK)
        return QStringLiteral("cannot write ") + zipPath + QStringLiteral(": ") + QString::fromLocal8Bit(archive_error_string(writer.get()));
    std::unique_ptr<archive_entry, void (*)(archive_entry *)> entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname(entry.get(), "ffmpeg");
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0755);
    archive_entry_set_size(entry.get(), source.size());
    archive_entry_set_mtime(entry.get(), QFileInfo(source).lastModified().toSecsSinceEpoch(), 0);
    if (archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK)
        return QStringLiteral("cannot add ffmpeg to the zip: ") + QString::fromLocal8Bit(archive_error_string(writer.get()));
    QByteArray chunk;
    while (!(chunk = source.read(1 << 20)).isEmpty())
        if (archive_write_data(writer.get(), chunk.constData(), size_t(chunk.size())) < 0)
            return QStringLiteral("cannot write the zip: ") + QString::fromLocal8Bit(archive_error_string(writer.get()));
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return QStringLiteral("cannot finish the zip: ") + QString::fromLocal8Bit(archive_error_string(writer.get()));
    return {};
}

// A file name inside the updates folder: one plain path segment.
bool isPlainName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') && !name.contains(u'\\');
}

} // namespace

ToolRoutes::ToolRoutes(HttpServer &server, QString dataPath, QString updatesPath, QString ffmpegProgram)
    : m_dataPath(std::move(dataPath)), m_updatesPath(std::move(updatesPath)), m_ffmpegProgram(std::move(ffmpegProgram))
{
    server.route(QStringLiteral("GET"), QStringLiteral("/tools/ffmpeg/ffmpeg.zip"), [this](Exchange &e) { ffmpegZip(e); });
    server.route(QStringLiteral("GET"), QStringLiteral("/tools/ffmpeg/SHA256SUMS"),
                 [this](Exchange &e) { ffmpegSums(e, QStringLiteral("ffmpeg.zip")); });
    const QString fallbackFolder = QStringLiteral("/download/linux/{}/") + QLatin1String(fallbackBuild);
    server.route(QStringLiteral("GET"), fallbackFolder + QStringLiteral("/ffmpeg.zip"), [this](Exchange &e) { fallback(e, false); });
    server.route(QStringLiteral("GET"), fallbackFolder + QStringLiteral("/ffmpeg.zip.sha256"),
                 [this](Exchange &e) { fallback(e, true); });
    server.route(QStringLiteral("GET"), QStringLiteral("/tools/desktop/latest.json"), [this](Exchange &e) { latest(e); });
    server.route(QStringLiteral("GET"), QStringLiteral("/tools/desktop/{}"), [this](Exchange &e) { image(e); });
}

std::optional<ToolRoutes::FFmpegArchive> ToolRoutes::archive(Exchange &exchange)
{
    std::lock_guard guard(m_archiveLock);
    if (m_archive)
        return m_archive;
    const QString folder = QDir(m_dataPath).filePath(QStringLiteral("tools"));
    const QString zipPath = folder + QStringLiteral("/ffmpeg.zip");
    if (!QFileInfo::exists(zipPath)) {
        if (!QFileInfo(m_ffmpegProgram).isExecutable()) {
            exchange.error(500, QStringLiteral("no ffmpeg at ") + m_ffmpegProgram + QStringLiteral(" to serve"));
            return std::nullopt;
        }
        QDir().mkpath(folder);
        const QString partial = zipPath + QStringLiteral(".partial");
        if (const QString problem = writeZip(m_ffmpegProgram, partial); !problem.isEmpty()) {
            QFile::remove(partial);
            exchange.error(500, problem);
            return std::nullopt;
        }
        QFile::rename(partial, zipPath);
    }
    m_archive = FFmpegArchive{zipPath, sha256OfFile(zipPath)};
    return m_archive;
}

void ToolRoutes::ffmpegZip(Exchange &exchange)
{
    if (const auto made = archive(exchange))
        sendFile(exchange, made->zipPath, "application/zip");
}

void ToolRoutes::ffmpegSums(Exchange &exchange, const QString &fileName)
{
    if (const auto made = archive(exchange))
        exchange.raw(200, (made->digest + QStringLiteral("  ") + fileName + u'\n').toUtf8(), "text/plain; charset=utf-8");
}

void ToolRoutes::fallback(Exchange &exchange, bool checksum)
{
    const QString architecture = exchange.params.value(0);
    if (architecture != QLatin1String("x86_64") && architecture != QLatin1String("arm64")) {
        exchange.error(404, QStringLiteral("no build for ") + architecture);
        return;
    }
    if (checksum)
        ffmpegSums(exchange, QStringLiteral("ffmpeg.zip"));
    else
        ffmpegZip(exchange);
}

void ToolRoutes::latest(Exchange &exchange)
{
    const QString path = QDir(m_updatesPath).filePath(QStringLiteral("latest.json"));
    if (m_updatesPath.isEmpty() || !QFileInfo(path).isFile()) {
        exchange.error(404, QStringLiteral("no update description (start the server with --updates DIR)"));
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        exchange.error(500, QStringLiteral("cannot read ") + path);
        return;
    }
    exchange.raw(200, file.readAll(), "application/json");
}

void ToolRoutes::image(Exchange &exchange)
{
    const QString name = exchange.params.value(0);
    const QString path = QDir(m_updatesPath).filePath(name);
    if (m_updatesPath.isEmpty() || !isPlainName(name) || !QFileInfo(path).isFile()) {
        exchange.error(404, QStringLiteral("no such update image: ") + name);
        return;
    }
    sendFile(exchange, path, "application/octet-stream");
}

void ToolRoutes::sendFile(Exchange &exchange, const QString &path, const char *contentType)
{
    auto file = std::make_shared<OpenFile>();
    file->fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (file->fd < 0 || ::fstat(file->fd, &info) != 0) {
        exchange.error(500, QStringLiteral("cannot read ") + path);
        return;
    }
    const size_t size = size_t(info.st_size);
    const httplib::Request &request = exchange.request;
    size_t limit = size;
    if (request.has_param("truncate")) {
        bool ok = false;
        const qulonglong cut = QString::fromStdString(request.get_param_value("truncate")).toULongLong(&ok);
        if (ok && cut < size)
            limit = size_t(cut);
    }
    const std::string lengthMode = request.has_param("no_length") ? request.get_param_value("no_length") : std::string();

    const bool endByClosing = lengthMode == "close";
    // Each call sends the next block from `offset`; past `limit` it refuses, which makes the
    // server drop the connection in the middle of the body. A body without a length or chunks
    // ends by dropping the connection too (else it would wait out the keep-alive time).
    const auto sendFrom = [file, size, limit, endByClosing](size_t offset, httplib::DataSink &sink) {
        if (offset >= size) {
            if (endByClosing)
                return false;
            sink.done();
            return true;
        }
        if (offset >= limit)
            return false;
        std::vector<char> block(std::min(sendBlock, limit - offset));
        const ssize_t read = ::pread(file->fd, block.data(), block.size(), off_t(offset));
        if (read <= 0)
            return false;
        return sink.write(block.data(), size_t(read));
    };

    exchange.response.status = 200;
    if (endByClosing) {
        exchange.response.set_header("Connection", "close");
        exchange.response.set_content_provider(contentType, sendFrom);
    } else if (!lengthMode.empty()) {
        exchange.response.set_chunked_content_provider(contentType, sendFrom);
    } else {
        exchange.response.set_content_provider(size, contentType,
                                               [sendFrom](size_t offset, size_t, httplib::DataSink &sink) {
                                                   return sendFrom(offset, sink);
                                               });
    }
}

} // namespace vorlik::devserver
