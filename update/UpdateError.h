#pragma once
// Failures of the update check and install (domain "Vorlik"), each with the text the update
// sheet shows.
#include "platform/Failure.h"

namespace vorlik::update {

class UpdateError : public Failure {
public:
    enum Code {
        serverUnavailable = 3,
        imageUnopenable = 5,
        noAppBundle = 6,
        unreadableInfoPlist = 7,
        foreignBundle = 8,
        versionMismatch = 9,
        buildMismatch = 10,
        moveAsideFailed = 13,
        copyFailed = 14,
        // Not part of the service's set: a program started from outside an app bundle (a build
        // folder) has no bundle to swap, so neither its download nor its install is carried
        // out. (A packaged copy is refused earlier, pointing to its package manager.)
        notInBundle = 15,
    };

    static UpdateError unavailable();                                   // 3
    static UpdateError unopenableImage();                               // 5
    static UpdateError missingAppBundle();                              // 6
    static UpdateError unreadableInfo();                                // 7
    static UpdateError notVorlikDesktop();                              // 8
    static UpdateError versionDiffers(const QString &bundle, const QString &manifest); // 9
    static UpdateError buildDiffers(const QString &bundle, qint64 manifest);           // 10
    static UpdateError cannotMoveAside(const QString &cause);           // 13
    static UpdateError copyFailedRestored(const QString &cause);        // 14
    static UpdateError notRunningFromBundle(const QString &program);    // 15

    QString domain() const { return QStringLiteral("Vorlik"); }
    int code() const { return m_code; }

private:
    UpdateError(int code, QString description) : Failure(std::move(description)), m_code(code) {}
    int m_code;
};

} // namespace vorlik::update
