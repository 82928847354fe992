#pragma once
// The Analysis page's drop card: a header with the waveform symbol, the title "AUDIO ANALYSIS",
// a busy bar while a run is going, the connection label and "Clear"; the dashed drop area; and
// the buttons "Choose Files", "Choose Folder" and "Stop". The page wraps it in its drop target
// and decides what the buttons do.
#include "analysis/AnalysisCard.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vorlik::analysis {

class DropArea;

class AnalysisDropCard : public AnalysisCard {
    Q_OBJECT
public:
    explicit AnalysisDropCard(QWidget *parent = nullptr);

    void showConnection(const QString &text, const QColor &color);
    void showRunState(bool running, bool canStop, bool canClear);

    DropArea *dropArea() const { return m_dropArea; }
    QProgressBar *busyIndicator() const { return m_busy; }
    QLabel *connectionLabel() const { return m_connection; }
    QPushButton *clearButton() const { return m_clear; }
    QPushButton *chooseFilesButton() const { return m_chooseFiles; }
    QPushButton *chooseFolderButton() const { return m_chooseFolder; }
    QPushButton *stopButton() const { return m_stop; }

signals:
    void clearRequested();
    void chooseFilesRequested();
    void chooseFolderRequested();
    void stopRequested();

private:
    DropArea *m_dropArea;
    QProgressBar *m_busy;
    QLabel *m_connection;
    QPushButton *m_clear;
    QPushButton *m_chooseFiles;
    QPushButton *m_chooseFolder;
    QPushButton *m_stop;
};

} // namespace vorlik::analysis
