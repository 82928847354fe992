#pragma once
// The service's report file of an analysed file as the user keeps it: named after the analysed
// file ("take_report.txt"), its bytes unchanged, and never written over another file.
#include <QByteArray>
#include <QString>

namespace vorlik::analysis {

struct ReportFile {
    // The analysed file's name without its extension + "_report.txt".
    static QString proposedName(const QString &inputPath);
    // Writes `report` into `folder` under the proposed name, or, when something is there, under
    // the first free "take_report (1).txt", "take_report (2).txt", ... Returns the path written.
    // Throws Failure (FileError) when the folder is missing or cannot be written.
    static QString saveInto(const QString &folder, const QString &inputPath, const QByteArray &report);
};

} // namespace vorlik::analysis
