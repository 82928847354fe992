#pragma once
// File-system checks for the archive targets: a record of everything under a folder (to show
// that nothing outside an unpacking folder changed) and the problems of an unpacked folder
// (entries other than files, folders and links; links that lead out; extra hard links;
// set-user-id, set-group-id or sticky bits).
#include <QMap>
#include <QString>

namespace vorlik::fuzz {

class TreeSnapshot {
public:
    // Every entry under `root` (links not followed), leaving out the subtree `skip`.
    static TreeSnapshot take(const QString &root, const QString &skip = {});
    // The first entry that differs, is missing or is new; empty when both are the same.
    QString differenceFrom(const TreeSnapshot &earlier) const;

private:
    QMap<QString, QString> m_entries; // path -> type, mode, size, links, time, target, content
};

// Empty when the unpacked `folder` holds only what may be there.
QString containmentProblem(const QString &folder);

// Removes a folder whatever its permissions (links are removed, never followed).
void removeTree(const QString &folder);

} // namespace vorlik::fuzz
