#pragma once
// A page's request for files as the engine hands it over: the kind of answer it wants and the
// types its chooser accepts (".ext", "type/subtype", "type/*"). It decides whether files the
// user dropped are an answer the page asked for.
#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>

namespace vorlik::web {

class FileChooserRequest {
public:
    FileChooserRequest(QWebEnginePage::FileSelectionMode mode, QStringList acceptedTypes);

    // True for a request to open one file (and a single file given) or several, whose accepted
    // types take every file. Never for a save picker, which lets the page write to the file it
    // gets, nor for a folder upload.
    bool admits(const QList<QUrl> &files) const;

    // Whether a file of this path is one of the accepted types; an empty list takes any file.
    static bool accepts(const QStringList &acceptedTypes, const QString &path);

private:
    QWebEnginePage::FileSelectionMode m_mode;
    QStringList m_acceptedTypes;
};

} // namespace vorlik::web
