// The web tests' application: headless, trusting the test certificate (by its key, in this process
// only) so that the Cinema page can be served over https as the service's own host.
#include "tests/support/DevServer.h"
#include "tests/support/TestApplication.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslKey>

#include <utility>

namespace {

QByteArray testCertificateKeyHash()
{
    const QStringList arguments = vorlik::test::DevServer::tlsArguments();
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(arguments.value(arguments.indexOf(QStringLiteral("--tls-cert")) + 1));
    return certificates.isEmpty() ? QByteArray()
                                  : QCryptographicHash::hash(certificates.first().publicKey().toDer(), QCryptographicHash::Sha256).toBase64();
}

} // namespace

std::unique_ptr<QCoreApplication> vorlik::test::makeApplication(int &argc, char **argv)
{
    for (const auto &[name, value] : {std::pair{"QT_QPA_PLATFORM", "offscreen"}, std::pair{"QTWEBENGINE_DISABLE_SANDBOX", "1"}})
        if (qEnvironmentVariableIsEmpty(name))
            qputenv(name, value);
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (!flags.contains("--disable-gpu"))
        flags += " --disable-gpu";
    const QByteArray keyHash = testCertificateKeyHash();
    if (!keyHash.isEmpty())
        flags += " --ignore-certificate-errors-spki-list=" + keyHash;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return std::make_unique<QApplication>(argc, argv);
}
