#pragma once
// Where the update flow stands. Equal when the case and its payload are equal.
#include "update/Manifest.h"

#include <QMetaType>
#include <QString>

namespace vorlik::update {

struct UpdatePhase {
    enum class Kind { idle, checking, upToDate, available, downloading, downloaded, installing, error };

    Kind kind = Kind::idle;
    Manifest manifest;     // available, downloaded
    double fraction = 0.0; // downloading, 0.0 to 1.0
    QString path;          // downloaded: the verified update image
    QString message;       // error: the text shown to the user

    static UpdatePhase idle() { return {}; }
    static UpdatePhase checking() { return make(Kind::checking); }
    static UpdatePhase upToDate() { return make(Kind::upToDate); }
    static UpdatePhase available(const Manifest &manifest);
    static UpdatePhase downloading(double fraction);
    static UpdatePhase downloaded(const Manifest &manifest, const QString &path);
    static UpdatePhase installing() { return make(Kind::installing); }
    static UpdatePhase error(const QString &message);

    bool is(Kind wanted) const { return kind == wanted; }
    // "downloading(0.25)", "error(The update link is invalid.)": for logs and test output.
    QString debugText() const;

    friend bool operator==(const UpdatePhase &, const UpdatePhase &) = default;

private:
    static UpdatePhase make(Kind kind)
    {
        UpdatePhase phase;
        phase.kind = kind;
        return phase;
    }
};

} // namespace vorlik::update

Q_DECLARE_METATYPE(vorlik::update::UpdatePhase)
