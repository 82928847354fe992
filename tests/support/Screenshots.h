#pragma once
// Pictures of the pages for people to look at: QWidget::grab() saved as PNG under the build
// folder's screenshots/ (VORLIK_SCREENSHOT_DIR, given by the test binary's build).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
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

// Shows the widget at that size, lets it lay itself out, and saves it as NAME.png. True when
// the file was written.
inline bool saveScreenshot(QWidget *widget, const QString &name, QSize size = {})
{
#ifdef VORLIK_SCREENSHOT_DIR
    if (size.isValid())
        widget->resize(size);
    widget->show();
    settle();
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
