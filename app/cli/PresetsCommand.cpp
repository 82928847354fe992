#include "app/cli/PresetsCommand.h"

#include "app/cli/Commands.h"
#include "app/cli/ConnectCommand.h"
#include "platform/Failure.h"
#include "service/APIClient.h"
#include "service/JsonFields.h"
#include "service/PresetsPayload.h"
#include "service/SessionStore.h"

namespace vorlik::app {
namespace {

// The service's preset document as it sent it, on one line; empty when it could not be had.
QCoro::Task<QByteArray> presetDocument(QString bearer, QTextStream &err)
{
    try {
        const service::APIResponse response =
            co_await service::APIClient::request(QStringLiteral("/v1/presets"), "GET", std::nullopt, bearer);
        if (response.status != 200)
            throw Failure(QStringLiteral("Server error ") + QString::number(response.status));
        // Checked as the sign-in's copy was: a document the program would not take is not printed.
        try {
            service::PresetsPayload::fromJSON(response.body);
        } catch (const service::DecodingError &error) {
            throw Failure(QStringLiteral("The service's preset list could not be read (") + error.description()
                          + QStringLiteral(")."));
        }
        // Its own text, key order and all; a line break between tokens is only a space to JSON.
        QByteArray document = response.body.trimmed();
        document.replace('\r', ' ').replace('\n', ' ');
        co_return document;
    } catch (const std::exception &error) {
        err << "✗ " << describe(error) << Qt::endl;
    }
    co_return QByteArray();
}

} // namespace

QCoro::Task<int> runPresetsCommand(CommandLine line, QTextStream &out, QTextStream &err)
{
    const bool json = line.has(QStringLiteral("json"));
    service::SessionStore store;
    // With --json the standard output holds the document alone; the pill's texts go with the errors.
    if (!co_await signIn(store, line, json ? err : out, err))
        co_return exitSignInFailed;
    if (presetListUnavailable(store, err))
        co_return exitFailed;
    if (json) {
        QCoro::Task<QByteArray> fetching = presetDocument(store.session() ? store.session()->accessToken : QString(), err);
        const QByteArray document = co_await fetching;
        if (document.isEmpty())
            co_return exitFailed;
        out << QString::fromUtf8(document) << Qt::endl;
        co_return exitSucceeded;
    }
    for (const service::Preset &preset : store.presets())
        out << preset.id << '\t' << preset.kind << '\t' << preset.name << Qt::endl;
    out << "✓ " << store.presets().size() << " presets" << Qt::endl;
    co_return exitSucceeded;
}

} // namespace vorlik::app
