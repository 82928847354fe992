#include "web/NativeMessageChannel.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace vorlik::web {

// The one object the private world can call.
class NativeMessageEndpoint : public QObject {
    Q_OBJECT
public:
    explicit NativeMessageEndpoint(NativeMessageChannel &channel) : m_channel(channel) {}

public slots:
    void post(const QString &secret, const QString &origin, bool isMainFrame, const QString &text)
    {
        m_channel.deliver(secret, origin, isMainFrame, text);
    }
    void linkActivated(const QString &secret, const QString &href) { m_channel.deliverLink(secret, href); }

private:
    NativeMessageChannel &m_channel;
};

namespace {

const QString eventName = QStringLiteral("vorlik-native-message");

QString qwebchannelSource()
{
    // Read from Qt's own resources and injected as text: pages never load it by address.
    QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("qwebchannel.js is missing from the Qt WebChannel resources");
    return QString::fromUtf8(file.readAll());
}

QString makeSecret()
{
    quint64 words[2];
    QRandomGenerator::system()->fillRange(words);
    return QString::number(words[0], 16) + QString::number(words[1], 16);
}

QWebEngineScript userScript(const QString &name, const QString &source, int world, bool subFrames)
{
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(source);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(quint32(world));
    script.setRunsOnSubFrames(subFrames);
    return script;
}

} // namespace

NativeMessageChannel::NativeMessageChannel(QWebEnginePage &page, QStringList names, QObject *parent)
    : QObject(parent), m_names(std::move(names)), m_secret(makeSecret()), m_channel(new QWebChannel(this))
{
    m_channel->registerObject(QStringLiteral("vorlikNative"), new NativeMessageEndpoint(*this));
    page.setWebChannel(m_channel, quint32(world()));
    // The handlers first, so that the page's own start scripts find them.
    page.scripts().insert(userScript(QStringLiteral("vorlik-message-handlers"), handlerScript(),
                                     QWebEngineScript::MainWorld, true));
    page.scripts().insert(userScript(QStringLiteral("vorlik-native-channel"), channelScript(), world(), false));
}

NativeMessageChannel::~NativeMessageChannel() = default;

int NativeMessageChannel::world() { return QWebEngineScript::ApplicationWorld; }

QString NativeMessageChannel::handlerScript() const
{
    const QString names = QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(m_names)).toJson(QJsonDocument::Compact));
    return QStringLiteral(
               "(function () {\n"
               "    var EVENT = '")
        + eventName
        + QStringLiteral(
               "';\n"
               "    function handler(name) {\n"
               "        return Object.freeze({\n"
               "            postMessage: function (body) {\n"
               "                var text = JSON.stringify({ name: name, body: body === undefined ? null : body });\n"
               "                if (window === window.top) {\n"
               "                    document.dispatchEvent(new CustomEvent(EVENT, { detail: text }));\n"
               "                } else {\n"
               "                    window.top.postMessage({ vorlikNativeMessage: text }, '*');\n"
               "                }\n"
               "            }\n"
               "        });\n"
               "    }\n"
               "    var handlers = {};\n"
               "    ")
        + names
        + QStringLiteral(
               ".forEach(function (name) { handlers[name] = handler(name); });\n"
               "    var webkit = window.webkit || {};\n"
               "    webkit.messageHandlers = Object.freeze(handlers);\n"
               "    window.webkit = webkit;\n"
               "})();");
}

QString NativeMessageChannel::channelScript() const
{
    return QStringLiteral("(function () {\n") + qwebchannelSource()
        + QStringLiteral(
               "\n"
               "    var SECRET = '")
        + m_secret
        + QStringLiteral(
               "';\n"
               "    var EVENT = '")
        + eventName
        + QStringLiteral(
               "';\n"
               "    var endpoint = null;\n"
               "    var waiting = [];\n"
               "    function send(call) {\n"
               "        if (endpoint) call(endpoint); else waiting.push(call);\n"
               "    }\n"
               "    new QWebChannel(qt.webChannelTransport, function (channel) {\n"
               "        endpoint = channel.objects.vorlikNative;\n"
               "        var queued = waiting;\n"
               "        waiting = [];\n"
               "        queued.forEach(function (call) { call(endpoint); });\n"
               "    });\n"
               "    document.addEventListener(EVENT, function (event) {\n"
               "        var text = event.detail;\n"
               "        if (typeof text !== 'string') return;\n"
               "        var origin = location.origin;\n"
               "        send(function (e) { e.post(SECRET, origin, true, text); });\n"
               "    }, true);\n"
               "    window.addEventListener('message', function (event) {\n"
               "        var data = event.data;\n"
               "        if (event.source === window || !data || typeof data.vorlikNativeMessage !== 'string') return;\n"
               "        var origin = event.origin, text = data.vorlikNativeMessage;\n"
               "        send(function (e) { e.post(SECRET, origin, false, text); });\n"
               "    }, true);\n"
               "    document.addEventListener('click', function (event) {\n"
               "        if (!event.isTrusted) return;\n"
               "        var link = event.target && event.target.closest ? event.target.closest('a[href]') : null;\n"
               "        if (!link || typeof link.href !== 'string') return;\n"
               "        var href = link.href;\n"
               "        send(function (e) { e.linkActivated(SECRET, href); });\n"
               "    }, true);\n"
               "})();");
}

void NativeMessageChannel::deliver(const QString &secret, const QString &origin, bool isMainFrame, const QString &text)
{
    NativeMessage message;
    message.origin = SecurityOrigin::fromText(origin);
    // Only the main frame's private world knows the secret; anything else is not from it.
    message.isMainFrame = isMainFrame && secret == m_secret;
    const QJsonObject envelope = QJsonDocument::fromJson(text.toUtf8()).object();
    message.name = envelope.value(QStringLiteral("name")).toString();
    message.body = envelope.value(QStringLiteral("body")).toVariant();
    emit received(message);
}

void NativeMessageChannel::deliverLink(const QString &secret, const QString &href)
{
    if (secret != m_secret)
        return;
    const QUrl url(href);
    if (url.isValid())
        emit linkActivated(url);
}

} // namespace vorlik::web

#include "NativeMessageChannel.moc"
