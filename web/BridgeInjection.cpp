#include "web/BridgeInjection.h"

#include "service/JsonFields.h"
#include "web/InjectedScripts.h"

namespace vorlik::web {

namespace {

const QString partsName = QStringLiteral("window.__vorlikBridgeParts");

QString functionFor(const QString &target)
{
    if (target == QLatin1String("immDropZone"))
        return QStringLiteral("window.vorlikInjectImmersiveFile");
    if (target == QLatin1String("dropZone"))
        return QStringLiteral("window.vorlikInjectFile");
    return QStringLiteral("window.vorlikInjectFiles");
}

bool takesOneRecord(const QString &target)
{
    return target == QLatin1String("immDropZone") || target == QLatin1String("dropZone");
}

} // namespace

BridgeInjection::BridgeInjection(QString target, QString fileName, QByteArray base64, qsizetype partChars)
    : m_target(std::move(target)), m_fileName(std::move(fileName)), m_base64(std::move(base64)),
      m_partChars(partChars > 0 ? partChars : defaultPartChars)
{
}

qsizetype BridgeInjection::partCount() const
{
    return m_base64.size() <= m_partChars ? 0 : (m_base64.size() + m_partChars - 1) / m_partChars;
}

qsizetype BridgeInjection::scriptCount() const
{
    const qsizetype parts = partCount();
    return parts == 0 ? 1 : parts + 1;
}

QString BridgeInjection::script(qsizetype index) const
{
    const QString name = QString::fromUtf8(service::json::quoted(m_fileName));
    const qsizetype parts = partCount();
    if (parts == 0) {
        // [{"name":…,"type":"audio/wav","data":"…"}] as a single-quoted script string. Base64
        // needs no escaping, so only the text around it is escaped.
        const QString head = InjectedScripts::escapeForSingleQuotes(QStringLiteral("[{\"name\":") + name
                                                                    + QStringLiteral(",\"type\":\"audio/wav\",\"data\":\""));
        QString script;
        script.reserve(m_base64.size() + head.size() + 80);
        script += functionFor(m_target) + QStringLiteral("(JSON.parse('") + head;
        script += QLatin1String(m_base64);
        script += takesOneRecord(m_target) ? QStringLiteral("\"}]')[0]);") : QStringLiteral("\"}]'));");
        return script;
    }
    if (index < parts) {
        const QByteArrayView part = QByteArrayView(m_base64).sliced(index * m_partChars,
                                                                    qMin(m_partChars, m_base64.size() - index * m_partChars));
        QString script;
        script.reserve(part.size() + 48);
        script += index == 0 ? partsName + QStringLiteral(" = ['") : partsName + QStringLiteral(".push('");
        script += QLatin1String(part);
        script += index == 0 ? QStringLiteral("'];") : QStringLiteral("');");
        return script;
    }
    // The record made in place: no second parse of the joined text. A file whose parts did not
    // all arrive (the page reloaded, or something else wrote the parts) is refused, not handed on.
    const QString record = QStringLiteral("{ name: ") + name + QStringLiteral(", type: 'audio/wav', data: data }");
    return QStringLiteral("(function (parts) {\n    ") + partsName + QStringLiteral(" = [];\n")
        + QStringLiteral("    var data = Array.isArray(parts) && parts.length === %1 ? parts.join('') : '';\n").arg(parts)
        + QStringLiteral("    if (data.length !== %1) throw new Error('the file arrived incomplete');\n    ").arg(m_base64.size())
        + functionFor(m_target)
        + (takesOneRecord(m_target) ? QStringLiteral("(") + record + QStringLiteral(");\n")
                                    : QStringLiteral("([") + record + QStringLiteral("]);\n"))
        + QStringLiteral("})(") + partsName + QStringLiteral(");");
}

} // namespace vorlik::web
