// The web tests' application: a QApplication for the web view, headless, trusting the stand-in
// service's test certificate (by its key, and only in this process) so that the Cinema page can
// be served over https as the service's own host.
#include "tests/support/DevServer.h"
#include "tests/support/TestApplication.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>

namespace {

QByteArray testCertificateKeyHash()
{
    const QStringList arguments = vorlik::test::DevServer::tlsArguments();
    const qsizetype at = arguments.indexOf(QStringLiteral("--tls-cert"));
    if (at < 0 || at + 1 >= arguments.size())
        return {};
    QFile file(arguments.at(at + 1));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QSslCertificate certificate(file.readAll(), QSsl::Pem);
    return QCryptographicHash::hash(certificate.publicKey().toDer(), QCryptographicHash::Sha256).toBase64();
}

void setDefault(const char *name, const QByteArray &value)
{
    if (qEnvironmentVariableIsEmpty(name))
        qputenv(name, value);
}

} // namespace

std::unique_ptr<QCoreApplication> vorlik::test::makeApplication(int &argc, char **argv)
{
    setDefault("QT_QPA_PLATFORM", "offscreen");
    setDefault("QTWEBENGINE_DISABLE_SANDBOX", "1");
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
