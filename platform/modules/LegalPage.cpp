#include "LegalPage.h"

#include "cvLabel.h"

#include <QVBoxLayout>

LegalPage::LegalPage(const QString &englishTitle, const QStringList &englishParagraphs, QWidget *parent)
    : ModulePage(englishTitle, QString(), parent)
{
    setObjectName(QStringLiteral("LegalPage"));
    for (const QString &paragraph : englishParagraphs) {
        cvLabel *label = new cvLabel(paragraph, this);
        label->setObjectName(QStringLiteral("LegalText"));
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        body()->addWidget(label);
    }
    body()->addStretch(1);
}
