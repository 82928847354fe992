#include "app/AboutView.h"

#include "app/AppIcon.h"
#include "platform/BuildInfo.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vorlik::app {

AboutView::AboutView(QWidget *parent)
    : QWidget(parent), m_releaseNotes(new QPushButton(QStringLiteral("Release Notes"), this))
{
    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(AppIcon::pixmap(72, devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);

    auto *name = new QLabel(platform::appName(), this);
    name->setObjectName(QStringLiteral("aboutName"));
    QFont nameFont = name->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.35);
    name->setFont(nameFont);
    name->setAlignment(Qt::AlignCenter);

    auto *version = new QLabel(versionText(), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setAlignment(Qt::AlignCenter);
    version->setForegroundRole(QPalette::PlaceholderText);
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_releaseNotes->setObjectName(QStringLiteral("releaseNotesButton"));
    connect(m_releaseNotes, &QPushButton::clicked, this, &AboutView::releaseNotesRequested);

    auto *sentence = new QLabel(QStringLiteral("Correction, Cinema, Convert and Analysis in one app. "
                                               "Conversion scripts and audio analysis stay online."),
                                this);
    sentence->setObjectName(QStringLiteral("aboutSentence"));
    sentence->setWordWrap(true);
    sentence->setAlignment(Qt::AlignCenter);
    QFont small = sentence->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    sentence->setFont(small);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(8);
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addSpacing(4);
    layout->addWidget(m_releaseNotes, 0, Qt::AlignHCenter);
    layout->addSpacing(4);
    layout->addWidget(sentence);
    layout->addStretch(1);
}

QString AboutView::versionText()
{
    return QStringLiteral("Version ") + platform::appVersion() + QStringLiteral(" (")
        + QString::number(platform::buildNumber()) + QLatin1Char(')');
}

} // namespace vorlik::app
