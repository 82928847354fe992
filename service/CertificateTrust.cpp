#include "service/CertificateTrust.h"

#include "platform/Settings.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace vorlik::service {

int CertificateTrust::applyFromSettings(const platform::Settings &settings, QString *problem)
{
    const QString path = settings.string(QString::fromLatin1(settingKey)).trimmed();
    if (path.isEmpty())
        return 0;
    return addAuthorities(path, problem);
}

int CertificateTrust::addAuthorities(const QString &pemPath, QString *problem)
{
    QFile file(pemPath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (problem)
            *problem = QStringLiteral("cannot read the certificate file ") + pemPath + QStringLiteral(": ")
                + file.errorString();
        return 0;
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (certificates.isEmpty()) {
        if (problem)
            *problem = QStringLiteral("no PEM certificate in ") + pemPath;
        return 0;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return int(certificates.size());
}

} // namespace vorlik::service
