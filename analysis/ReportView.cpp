#include "analysis/ReportView.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vorlik::analysis {

ReportView::ReportView(const AnalysisPayload &report, QWidget *parent)
    : QWidget(parent), m_sections(ReportFormat::sections(report))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    QFont labelFont = font();
    labelFont.setPointSize(labelPointSize);
    QFont valueFont = font();
    valueFont.setPointSize(valuePointSize);
    QPalette secondary = palette();
    secondary.setColor(QPalette::WindowText, QColor(0x6b, 0x6e, 0x76));

    for (const ReportSection &section : m_sections) {
        auto *title = new QLabel(section.title, this);
        QFont titleFont = title->font();
        titleFont.setWeight(QFont::DemiBold);
        title->setFont(titleFont);
        layout->addWidget(title);

        auto *rows = new QGridLayout;
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setHorizontalSpacing(8);
        rows->setVerticalSpacing(2);
        rows->setColumnMinimumWidth(0, labelColumnWidth);
        rows->setColumnStretch(1, 1);
        for (int index = 0; index < section.rows.size(); ++index) {
            const ReportRow &row = section.rows.at(index);
            auto *label = new QLabel(row.label, this);
            label->setFont(labelFont);
            label->setPalette(secondary);
            label->setFixedWidth(labelColumnWidth);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            auto *value = new QLabel(ReportFormat::shown(row.value), this);
            value->setObjectName(QStringLiteral("reportValue"));
            value->setFont(valueFont);
            value->setWordWrap(true);
            value->setTextInteractionFlags(Qt::TextSelectableByMouse);
            value->setTextFormat(Qt::PlainText);
            m_values.insert(section.title + u'\n' + row.label, value);
            rows->addWidget(label, index, 0);
            rows->addWidget(value, index, 1);
        }
        layout->addLayout(rows);
    }
}

QString ReportView::shownValue(const QString &section, const QString &label) const
{
    const QLabel *value = m_values.value(section + u'\n' + label);
    return value ? value->text() : QString();
}

} // namespace vorlik::analysis
