#include "devserver/FaultInjector.h"

#include <QJsonValue>
#include <QRegularExpression>

namespace vorlik::devserver {

namespace {

std::optional<Fault::Action> actionNamed(const QString &name)
{
    if (name == QStringLiteral("status"))
        return Fault::Action::status;
    if (name == QStringLiteral("malformed"))
        return Fault::Action::malformed;
    if (name == QStringLiteral("non_utf8"))
        return Fault::Action::nonUtf8;
    if (name == QStringLiteral("close"))
        return Fault::Action::close;
    if (name == QStringLiteral("delay"))
        return Fault::Action::delay;
    if (name == QStringLiteral("capture"))
        return Fault::Action::capture;
    if (name == QStringLiteral("stall"))
        return Fault::Action::stall;
    return std::nullopt;
}

bool validStatus(qint64 status) { return status >= 100 && status <= 599; }

} // namespace

QString Fault::actionName(Action action)
{
    switch (action) {
    case Action::status: return QStringLiteral("status");
    case Action::malformed: return QStringLiteral("malformed");
    case Action::nonUtf8: return QStringLiteral("non_utf8");
    case Action::close: return QStringLiteral("close");
    case Action::delay: return QStringLiteral("delay");
    case Action::capture: return QStringLiteral("capture");
    case Action::stall: return QStringLiteral("stall");
    }
    return {};
}

std::optional<Fault> Fault::fromJson(const QJsonObject &object, QString &error)
{
    Fault fault;
    const QJsonValue method = object.value(QStringLiteral("method"));
    if (!method.isUndefined() && !method.isNull()) {
        if (!method.isString()) {
            error = QStringLiteral("\"method\" must be a string");
            return std::nullopt;
        }
        fault.method = method.toString().toUpper();
    }
    const QJsonValue path = object.value(QStringLiteral("path"));
    if (!path.isString() || !path.toString().startsWith(QLatin1Char('/'))) {
        error = QStringLiteral("\"path\" must be a string starting with /");
        return std::nullopt;
    }
    fault.path = path.toString();
    const auto action = actionNamed(object.value(QStringLiteral("action")).toString());
    if (!action) {
        error = QStringLiteral("\"action\" must be one of status, malformed, non_utf8, close, delay, capture, stall");
        return std::nullopt;
    }
    fault.action = *action;
    const QJsonValue status = object.value(QStringLiteral("status"));
    if (!status.isUndefined() && !status.isNull()) {
        if (!status.isDouble() || !validStatus(status.toInteger(-1)) || status.toDouble() != double(status.toInteger())) {
            error = QStringLiteral("\"status\" must be an HTTP status code (100-599)");
            return std::nullopt;
        }
        fault.status = int(status.toInteger());
    }
    const QJsonValue body = object.value(QStringLiteral("body"));
    if (!body.isUndefined() && !body.isNull()) {
        if (!body.isString()) {
            error = QStringLiteral("\"body\" must be a string");
            return std::nullopt;
        }
        fault.body = body.toString().toUtf8();
    }
    const QJsonValue location = object.value(QStringLiteral("location"));
    if (!location.isUndefined() && !location.isNull()) {
        if (!location.isString()) {
            error = QStringLiteral("\"location\" must be a string");
            return std::nullopt;
        }
        fault.location = location.toString();
    }
    const QJsonValue delay = object.value(QStringLiteral("delay_ms"));
    if (!delay.isUndefined() && !delay.isNull()) {
        if (!delay.isDouble() || delay.toInteger(-1) < 0) {
            error = QStringLiteral("\"delay_ms\" must be a whole number >= 0");
            return std::nullopt;
        }
        fault.delayMs = delay.toInteger();
    }
    const QJsonValue count = object.value(QStringLiteral("count"));
    if (!count.isUndefined() && !count.isNull()) {
        const qint64 n = count.isDouble() ? count.toInteger(0) : 0;
        if (n == 0 || n < -1) {
            error = QStringLiteral("\"count\" must be a whole number >= 1, or -1 for every request");
            return std::nullopt;
        }
        fault.count = int(n);
    }
    return fault;
}

std::optional<Fault> Fault::fromSpec(const QString &spec, QString &error)
{
    const QStringList words = spec.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.size() < 3) {
        error = QStringLiteral("--fault wants 'METHOD PATH action=NAME [key=value]...', not: ") + spec;
        return std::nullopt;
    }
    QJsonObject object;
    if (words.at(0) != QStringLiteral("*"))
        object.insert(QStringLiteral("method"), words.at(0));
    object.insert(QStringLiteral("path"), words.at(1));
    for (qsizetype i = 2; i < words.size(); ++i) {
        const QString key = words.at(i).section(QLatin1Char('='), 0, 0);
        const QString value = words.at(i).section(QLatin1Char('='), 1);
        if (!words.at(i).contains(QLatin1Char('='))) {
            error = QStringLiteral("--fault: expected key=value, got ") + words.at(i);
            return std::nullopt;
        }
        if (key == QStringLiteral("action") || key == QStringLiteral("body") || key == QStringLiteral("location")) {
            object.insert(key, value);
        } else if (key == QStringLiteral("status") || key == QStringLiteral("count") || key == QStringLiteral("delay_ms")) {
            bool ok = false;
            const qint64 number = value.toLongLong(&ok);
            if (!ok) {
                error = QStringLiteral("--fault: ") + key + QStringLiteral(" wants a number, got ") + value;
                return std::nullopt;
            }
            object.insert(key, number);
        } else {
            error = QStringLiteral("--fault: unknown key ") + key;
            return std::nullopt;
        }
    }
    auto fault = fromJson(object, error);
    if (!fault)
        error = QStringLiteral("--fault: ") + error;
    return fault;
}

QJsonObject Fault::toJson() const
{
    return QJsonObject{{QStringLiteral("method"), method},
                       {QStringLiteral("path"), path},
                       {QStringLiteral("action"), actionName(action)},
                       {QStringLiteral("status"), status},
                       {QStringLiteral("body"), QString::fromUtf8(body)},
                       {QStringLiteral("location"), location},
                       {QStringLiteral("delay_ms"), delayMs},
                       {QStringLiteral("count"), count}};
}

void FaultInjector::add(const Fault &fault)
{
    std::lock_guard guard(m_lock);
    m_faults.push_back(fault);
}

void FaultInjector::clear()
{
    std::lock_guard guard(m_lock);
    m_faults.clear();
}

std::optional<Fault> FaultInjector::take(const QString &method, const QString &path)
{
    std::lock_guard guard(m_lock);
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->path != path || (!it->method.isEmpty() && it->method != method))
            continue;
        Fault hit = *it;
        if (it->count > 0 && --it->count == 0)
            m_faults.erase(it);
        return hit;
    }
    return std::nullopt;
}

std::vector<Fault> FaultInjector::list() const
{
    std::lock_guard guard(m_lock);
    return m_faults;
}

} // namespace vorlik::devserver
