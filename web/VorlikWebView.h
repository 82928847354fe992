#pragma once
// The web view of a web tab. It takes native drags of files itself (the page never sees them):
// it highlights the page's drop area while files hover, and hands dropped file addresses to
// onFilesDropped. Other drags (text, in-page drags) go to the page as usual.
//
// Qt delivers drag events to the view's render widget (its focus proxy), which the engine may
// replace when a page moves to another renderer; every child widget is watched for that reason.
#include <QList>
#include <QPointF>
#include <QUrl>
#include <QWebEngineView>

#include <functional>

class QDropEvent;
class QMimeData;

namespace vorlik::web {

class VorlikWebView : public QWebEngineView {
    Q_OBJECT
public:
    explicit VorlikWebView(QWidget *parent = nullptr);
    ~VorlikWebView() override;

    std::function<void(const QList<QUrl> &files, QPointF dropPoint)> onFilesDropped;

    // Whether file drags are taken (the tab is selected).
    void setAcceptsFileDrops(bool accept);
    bool acceptsFileDrops() const { return m_acceptsFileDrops; }

    // Page coordinates (CSS pixels, as getBoundingClientRect gives them) and view coordinates.
    QPointF pagePoint(QPointF viewPoint) const;
    QPointF viewPoint(QPointF pagePoint) const;

    // The widget that receives the view's input: the render widget, or the view itself before
    // the engine made one.
    QWidget *inputWidget() const;

    // The local file addresses a drag carries.
    static QList<QUrl> fileUrls(const QMimeData *data);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void childEvent(QChildEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // True when the event was a file drag and has been handled here.
    bool handleDrag(QObject *receiver, QEvent *event);
    void runScript(const QString &source);
    void trace(const QString &line) const;

    bool m_acceptsFileDrops = false;
    bool m_fileDragInside = false;
};

} // namespace vorlik::web
