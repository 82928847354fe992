#pragma once
// One dropped file handed to the page by the bridge: the scripts that give the page's inject
// function the one-element list [{"name", "type": "audio/wav", "data": Base64}] (or its one
// record, for the Cinema zones). A file whose Base64 text fits in one part goes in a single
// script, window.vorlikInjectFiles(JSON.parse('…')) and its kin; a larger one goes in parts the
// page collects, then one call with the joined text, because the engine reads a script's string
// of many megabytes far more slowly than the same text in parts (a 100 MiB file: ten times).
// The page keeps the parts of one file at a time: the scripts of one file must run before those
// of the next. The last call counts the parts and their length, and throws instead of handing
// over a file that arrived incomplete. Scripts are made one at a time, so only the file's Base64
// text stays in memory.
#include <QByteArray>
#include <QString>

namespace vorlik::web {

class BridgeInjection {
public:
    static constexpr qsizetype defaultPartChars = qsizetype(2) << 20;

    // target: "immDropZone", "dropZone", or anything else for the file list.
    BridgeInjection(QString target, QString fileName, QByteArray base64, qsizetype partChars = defaultPartChars);

    qsizetype base64Length() const { return m_base64.size(); }
    qsizetype scriptCount() const;
    QString script(qsizetype index) const;

private:
    qsizetype partCount() const;

    QString m_target;
    QString m_fileName;
    QByteArray m_base64;
    qsizetype m_partChars;
};

} // namespace vorlik::web
