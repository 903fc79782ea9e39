#include "UpdatePage.h"

#include "ModuleHost.h"
#include "UtilityLib.h"
#include "cvLabel.h"
#include "cvPushButton.h"
#include "cvTranslate.h"

#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QVariant>

UpdatePage::UpdatePage(const ModuleHost *host, QWidget *parent)
    : ModulePage(QStringLiteral("Software update"), QString(), parent), m_host(host)
{
    setObjectName(QStringLiteral("UpdatePage"));
    cvLabel *version = new cvLabel(QString(), this);
    version->setObjectName(QStringLiteral("CurrentVersion"));
    version->setSourceText(QStringLiteral("Current version: %1"),
                           {QString::fromStdString(GetProductVersion())});
    body()->addWidget(version);
    cvLabel *status = new cvLabel(QStringLiteral("You are using the latest version."), this);
    status->setObjectName(QStringLiteral("UpdateStatus"));
    body()->addWidget(status);
    QHBoxLayout *bar = new QHBoxLayout();
    cvPushButton *check = new cvPushButton(QStringLiteral("Check for updates"), this);
    check->setObjectName(QStringLiteral("CheckButton"));
    check->setProperty("primary", true);
    bar->addWidget(check);
    bar->addStretch(1);
    body()->addLayout(bar);
    body()->addStretch(1);
    connect(check, &QPushButton::clicked, this, [this] {
        if (m_host)
            m_host->information(QStringLiteral("Software update"),
                                cvTranslate(QStringLiteral("You are using the latest version.")));
    });
}
