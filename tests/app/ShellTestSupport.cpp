#include "tests/app/ShellTestSupport.h"

#include "tests/support/TestApplication.h"

#include <QMessageBox>

// The shell's tests drive widgets, the web tabs among them: their binary runs a widget
// application set up as the program sets itself up, headless.
std::unique_ptr<QCoreApplication> vorlik::test::makeApplication(int &argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains("--disable-gpu"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --disable-gpu").trimmed());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return std::make_unique<QApplication>(argc, argv);
}

namespace vorlik::test {

DevServer &shellServer() { return DevServer::shared(); }

QList<QJsonObject> requestsTo(const QString &path)
{
    QList<QJsonObject> found;
    for (const QJsonValue &entry : shellServer().requests())
        if (entry.toObject().value(QStringLiteral("path")).toString() == path)
            found.append(entry.toObject());
    return found;
}

AlertAnswerer::AlertAnswerer(std::function<void(QMessageBox *)> inspect) : m_inspect(std::move(inspect))
{
    m_timer.setInterval(20);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
    m_timer.start();
}

void AlertAnswerer::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (m_answering || !box || !box->isVisible())
        return;
    m_answering = true;
    Seen seen{box->text(), box->informativeText(), {}};
    for (QAbstractButton *button : box->buttons())
        seen.buttons.append(button->text());
    m_seen.append(seen);
    if (m_inspect)
        m_inspect(box);
    if (!box->buttons().isEmpty())
        box->buttons().first()->click();
    else
        box->reject();
    m_answering = false;
}

} // namespace vorlik::test
