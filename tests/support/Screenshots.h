#pragma once
// Pictures of the pages for people to look at: QWidget::grab() saved as PNG under the build
// folder's screenshots/ (VORLIK_SCREENSHOT_DIR, given by the test binary's build).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

namespace vorlik::test {

// Lets layouts that asked for another pass (sizes that depend on the width) finish.
inline void settle(int milliseconds = 60)
{
    QElapsedTimer clock;
    clock.start();
    do
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    while (clock.elapsed() < milliseconds);
}

// Lets the widget's layouts run until none of its widgets moves or changes size between passes.
// A fixed time alone is not enough on a loaded machine: the process may not run at all within it.
inline void settleLayout(QWidget *widget)
{
    const auto shape = [widget] {
        QList<QRect> rects{widget->geometry()};
        for (const QWidget *child : widget->findChildren<QWidget *>())
            rects.append(child->isVisible() ? child->geometry() : QRect());
        return rects;
    };
    QList<QRect> before = shape();
    for (int unchanged = 0, pass = 0; unchanged < 3 && pass < 500; ++pass) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QList<QRect> now = shape();
        unchanged = now == before ? unchanged + 1 : 0;
        before = std::move(now);
    }
}

// Shows the widget at that size, lets it lay itself out, and saves it as NAME.png. True when
// the file was written.
inline bool saveScreenshot(QWidget *widget, const QString &name, QSize size = {})
{
#ifdef VORLIK_SCREENSHOT_DIR
    if (size.isValid())
        widget->resize(size);
    widget->show();
    settle();
    settleLayout(widget);
    const QString folder = QStringLiteral(VORLIK_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    return widget->grab().save(folder + u'/' + name + QStringLiteral(".png"));
#else
    Q_UNUSED(widget);
    Q_UNUSED(name);
    Q_UNUSED(size);
    return false;
#endif
}

} // namespace vorlik::test
