// The bundle checks of a staged update: UpdateManager::validateBundleIdentity on a bundle whose
// Contents/Info.plist is the input. It passes exactly when the list holds the identifier
// "com.vorlik.desktop", the manifest's version as CFBundleShortVersionString and its build as
// CFBundleVersion (all strings), and otherwise fails with the code of the first check missed.
// Input: the manifest's version, NUL, Info.plist (which may hold NUL bytes itself).
#include "fuzz/FuzzSupport.h"
#include "update/Manifest.h"
#include "update/UpdateError.h"
#include "update/UpdateManager.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>

#include <plist/plist.h>


using vorlik::update::Manifest;
using vorlik::update::UpdateError;
using vorlik::update::UpdateManager;

namespace {

std::optional<QString> stringMember(plist_t dict, const char *key)
{
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    uint64_t length = 0;
    const char *text = plist_get_string_ptr(node, &length);
    if (!text)
        return std::nullopt;
    // Bytes that are not UTF-8 count as no text.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString value = decoder.decode(QByteArrayView(text, qsizetype(length)));
    return decoder.hasError() ? std::nullopt : std::optional<QString>(value);
}

// The code the checks must end with, read straight from libplist.
int expectedCode(const QByteArray &info, const Manifest &manifest)
{
    if (info.isEmpty())
        return UpdateError::unreadableInfoPlist;
    plist_t root = nullptr;
    plist_from_memory(info.constData(), uint32_t(info.size()), &root);
    if (!root)
        return UpdateError::unreadableInfoPlist;
    int code = 0;
    if (plist_get_node_type(root) != PLIST_DICT)
        code = UpdateError::unreadableInfoPlist;
    else if (stringMember(root, "CFBundleIdentifier") != QStringLiteral("com.vorlik.desktop"))
        code = UpdateError::foreignBundle;
    else if (stringMember(root, "CFBundleShortVersionString").value_or(QString()) != manifest.version)
        code = UpdateError::versionMismatch;
    else if (stringMember(root, "CFBundleVersion").value_or(QString()) != QString::number(manifest.build))
        code = UpdateError::buildMismatch;
    plist_free(root);
    return code;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString bundle = vorlik::fuzz::runFolder() + QStringLiteral("/Vorlik Desktop.app");
    static const bool made = QDir().mkpath(bundle + QStringLiteral("/Contents"));
    FUZZ_CHECK(made, bundle);

    const QList<QByteArray> input = vorlik::fuzz::parts(data, size, 2);
    const QByteArray info = input[1];
    Manifest manifest;
    manifest.version = QString::fromUtf8(input[0]);
    manifest.build = 28;
    {
        QFile file(bundle + QStringLiteral("/Contents/Info.plist"));
        if (!file.open(QIODevice::WriteOnly) || file.write(info) != info.size())
            vorlik::fuzz::fail("Info.plist written", file.fileName());
    }
    int code = 0;
    try {
        UpdateManager::validateBundleIdentity(bundle, manifest);
    } catch (const UpdateError &error) {
        code = error.code();
        FUZZ_CHECK(!error.description().isEmpty(), QString::number(code));
    }
    const int expected = expectedCode(info, manifest);
    FUZZ_CHECK(code == expected, QStringLiteral("code %1, expected %2").arg(code).arg(expected));
    return 0;
}
