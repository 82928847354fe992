#pragma once
// The convert runner. Its static operations turn a preset's script into ffmpeg arguments and run
// ffmpeg as a child process; both are pure or self-contained so that they can be used and tested
// on their own. No shell is involved anywhere: arguments travel to the process as a list.
#include "platform/CancellationToken.h"
#include "convert/ShellOutcome.h"

#include <QCoroTask>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vorlik::convert {

using platform::CancellationToken;

class ConvertRunner {
public:
    // Script templates.

    // Splits a script into tokens by its shell-like rules (quotes, backslash escapes, Unicode
    // white space between tokens). Never fails; empty tokens are never produced.
    static QStringList tokenize(const QString &script);
    // The ffmpeg argument list (without the program name) for one file: "{input}" and
    // "{output_base}" are replaced inside each token. Throws TemplateError.
    static QStringList buildArguments(const QString &scriptTemplate, const QString &inputPath,
                                      const QString &outputBasePath);

    // FFmpeg process execution.

    // Runs ffmpeg with the arguments (standard input and output on the null device, the error
    // stream's last 8192 characters kept). onProcess receives the process just before launch.
    // A cancel of `cancellation` sends SIGTERM; the call still waits for the process to end.
    static QCoro::Task<ShellOutcome> runFFmpeg(QString ffmpeg, QStringList arguments,
                                               std::function<void(QProcess &)> onProcess = {},
                                               CancellationToken cancellation = {});
    // The channel count of the input's first audio stream with a recognisable layout.
    static QCoro::Task<std::optional<int>> probeChannelCount(QString ffmpeg, QString input,
                                                             CancellationToken cancellation = {});
    static std::optional<int> parseChannelCount(const QString &probeOutput);
    static std::optional<int> channelCount(const QString &descriptor);
    // One line for the user: the last error line of an error stream, or its beginning.
    static QString summarise(const QString &text);
    // Deletes every entry beside baseURL whose name begins with baseURL's last component.
    static void cleanupPartial(const QString &basePath);
};

} // namespace vorlik::convert
