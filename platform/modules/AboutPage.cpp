#include "AboutPage.h"

#include "UtilityLib.h"
#include "cvAccessibleText.h"
#include "cvLabel.h"
#include "cvTr.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

AboutPage::AboutPage(QWidget *parent) : ModulePage(CV_TR("About"), QString(), parent)
{
    setObjectName(QStringLiteral("AboutPage"));
    setProperty("mainNavSection", QStringLiteral("About"));
    QHBoxLayout *row = new QHBoxLayout();
    row->setSpacing(20);
    QLabel *logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("AboutLogo"));
    cvSetAccessibleSource(logo, CV_TR("Corvane Connect logo"));
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull())
        logo->setPixmap(icon.pixmap(96, 96));
    logo->setFixedSize(96, 96);
    row->addWidget(logo, 0, Qt::AlignTop);

    QVBoxLayout *text = new QVBoxLayout();
    text->setSpacing(6);
    cvLabel *name = new cvLabel(CV_TR("Corvane Connect"), this);
    name->setObjectName(QStringLiteral("AboutProduct"));
    text->addWidget(name);
    cvLabel *version = new cvLabel(QString(), this);
    version->setObjectName(QStringLiteral("AboutVersion"));
    version->setSourceText(CV_TR("Version %1"), {QString::fromStdString(GetProductVersion())});
    text->addWidget(version);
    cvLabel *purpose = new cvLabel(CV_TR("The companion application for your Corvane USB devices."), this);
    purpose->setWordWrap(true);
    text->addWidget(purpose);
    cvLabel *copyright = new cvLabel(CV_TR("Copyright 2026 Corvane. All rights reserved."), this);
    copyright->setObjectName(QStringLiteral("AboutCopyright"));
    text->addWidget(copyright);
    text->addStretch(1);
    row->addLayout(text, 1);
    body()->addLayout(row);
    body()->addStretch(1);
}
