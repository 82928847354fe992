#pragma once
// The page-side message handlers, window.webkit.messageHandlers.NAME.postMessage(body), over
// QWebChannel.
//
// The channel lives in a private script world of the main frame: page scripts (of any frame)
// cannot reach it, nor read the secret the native side gave that world. Every frame gets the
// handler objects; in the main frame a post travels by a DOM event to the private world, from a
// sub-frame by window.postMessage to the top window, whose private world reads the sender's
// origin from the browser. So a message says truthfully which origin sent it and whether that
// was the main frame, and the application decides what to accept.
#include "web/NativeMessage.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

class QWebEnginePage;
class QWebChannel;

namespace vorlik::web {

class NativeMessageChannel : public QObject {
    Q_OBJECT
public:
    // Installs the scripts and the channel into the page (before it loads anything).
    NativeMessageChannel(QWebEnginePage &page, QStringList names, QObject *parent = nullptr);
    ~NativeMessageChannel() override;

    // The script world that holds the channel (never the page's own).
    static int world();

signals:
    void received(const vorlik::web::NativeMessage &message);
    // The user clicked a link in the main frame (a real click, not one made by a script).
    void linkActivated(const QUrl &url);

private:
    friend class NativeMessageEndpoint;
    void deliver(const QString &secret, const QString &origin, bool isMainFrame, const QString &text);
    void deliverLink(const QString &secret, const QString &href);

    QString handlerScript() const;
    QString channelScript() const;

    QStringList m_names;
    QString m_secret;
    QWebChannel *m_channel = nullptr;
};

} // namespace vorlik::web
