#include "UpdatePage.h"

#include "ModuleHost.h"
#include "UtilityLib.h"
#include "cvLabel.h"
#include "cvPushButton.h"
#include "cvTr.h"
#include "cvTranslate.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QVariant>

UpdatePage::UpdatePage(const ModuleHost *host, QWidget *parent)
    : ModulePage(CV_TR("Software update"), QString(), parent), m_host(host)
{
    setObjectName(QStringLiteral("UpdatePage"));
    cvLabel *version = new cvLabel(QString(), this);
    version->setObjectName(QStringLiteral("CurrentVersion"));
    version->setSourceText(CV_TR("Current version: %1"), {QString::fromStdString(GetProductVersion())});
    body()->addWidget(version);
    cvLabel *status = new cvLabel(CV_TR("You are using the latest version."), this);
    status->setObjectName(QStringLiteral("UpdateStatus"));
    body()->addWidget(status);
    QHBoxLayout *bar = new QHBoxLayout();
    cvPushButton *check = new cvPushButton(CV_TR("Check for updates"), this);
    check->setObjectName(QStringLiteral("CheckButton"));
    check->setProperty("primary", true);
    bar->addWidget(check);
    bar->addStretch(1);
    body()->addLayout(bar);
    body()->addStretch(1);
    connect(check, &QPushButton::clicked, this, [this] {
        if (m_host)
            m_host->information(CV_TR("Software update"),
                                cvTranslate(CV_TR("You are using the latest version.")));
    });
}
