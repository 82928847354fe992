#include "update/UpdatePhase.h"

namespace vorlik::update {

UpdatePhase UpdatePhase::available(const Manifest &manifest)
{
    UpdatePhase phase = make(Kind::available);
    phase.manifest = manifest;
    return phase;
}

UpdatePhase UpdatePhase::downloading(double fraction)
{
    UpdatePhase phase = make(Kind::downloading);
    phase.fraction = fraction;
    return phase;
}

UpdatePhase UpdatePhase::downloaded(const Manifest &manifest, const QString &path)
{
    UpdatePhase phase = make(Kind::downloaded);
    phase.manifest = manifest;
    phase.path = path;
    return phase;
}

UpdatePhase UpdatePhase::error(const QString &message)
{
    UpdatePhase phase = make(Kind::error);
    phase.message = message;
    return phase;
}

QString UpdatePhase::debugText() const
{
    switch (kind) {
    case Kind::idle: return QStringLiteral("idle");
    case Kind::checking: return QStringLiteral("checking");
    case Kind::upToDate: return QStringLiteral("upToDate");
    case Kind::available: return QStringLiteral("available(") + manifest.version + u')';
    case Kind::downloading: return QStringLiteral("downloading(") + QString::number(fraction) + u')';
    case Kind::downloaded: return QStringLiteral("downloaded(") + manifest.version + QStringLiteral(", ") + path + u')';
    case Kind::installing: return QStringLiteral("installing");
    case Kind::error: return QStringLiteral("error(") + message + u')';
    }
    return {};
}

} // namespace vorlik::update
