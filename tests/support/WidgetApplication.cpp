// The application of the page tests: a QApplication on the offscreen platform (unless the
// environment names another), light and plain, so screenshots look the same on every machine.
#include "tests/support/TestApplication.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

std::unique_ptr<QCoreApplication> vorlik::test::makeApplication(int &argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    auto application = std::make_unique<QApplication>(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(QApplication::style()->standardPalette());
    return application;
}
