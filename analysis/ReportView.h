#pragma once
// An analysis report laid out as its sections: a title per section, then label/value rows with
// the labels in a fixed 130-pixel column in an 11-point font; empty values show "—".
#include "analysis/ReportFormat.h"

#include <QHash>
#include <QWidget>

class QLabel;

namespace vorlik::analysis {

class ReportView : public QWidget {
    Q_OBJECT
public:
    static constexpr int labelColumnWidth = 130;
    static constexpr int labelPointSize = 11;
    // The values are set a size up, so that the labels read as the small print they are.
    static constexpr int valuePointSize = 12;

    explicit ReportView(const AnalysisPayload &report, QWidget *parent = nullptr);

    const QList<ReportSection> &sections() const { return m_sections; }
    // The text of a row's value on screen ("—" for an empty value); empty when the section or
    // row does not exist.
    QString shownValue(const QString &section, const QString &label) const;

private:
    QList<ReportSection> m_sections;
    QHash<QString, QLabel *> m_values; // by section title + "\n" + row label
};

} // namespace vorlik::analysis
