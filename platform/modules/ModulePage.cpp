#include "ModulePage.h"

#include "cvLabel.h"

#include <QVBoxLayout>
#include <QVariant>

ModulePage::ModulePage(const QString &englishTitle, const QString &englishSubtitle, QWidget *parent)
    : cvWidget(parent)
{
    setProperty("modulePage", true);
    QVBoxLayout *layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    layout->setSpacing(8);
    m_title = new cvLabel(englishTitle, this);
    m_title->setObjectName(QStringLiteral("PageTitle"));
    layout->addWidget(m_title);
    m_subtitle = new cvLabel(englishSubtitle, this);
    m_subtitle->setObjectName(QStringLiteral("PageSubtitle"));
    m_subtitle->setWordWrap(true);
    m_subtitle->setVisible(!englishSubtitle.isEmpty());
    layout->addWidget(m_subtitle);
    layout->addSpacing(12);
    m_body = new QVBoxLayout();
    m_body->setSpacing(10);
    layout->addLayout(m_body, 1);
}
