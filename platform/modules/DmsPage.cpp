#include "DmsPage.h"

#include "ModuleHost.h"
#include "UserProfile.h"
#include "cvLabel.h"
#include "cvLineEdit.h"
#include "cvPushButton.h"
#include "cvTr.h"
#include "cvTranslate.h"

#include <QHBoxLayout>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariant>

namespace {
const char kSection[] = "DMS";
const char kKey[] = "strServerAddress";
const int kMaxAddress = 512;
} // namespace

DmsPage::DmsPage(const ModuleHost *host, QWidget *parent)
    : ModulePage(CV_TR("Device management"),
                 CV_TR("The server that manages your devices. Leave it empty when you have none."), parent),
      m_host(host)
{
    setObjectName(QStringLiteral("DmsPage"));
    cvLabel *addressLabel = new cvLabel(CV_TR("Server address"), this);
    body()->addWidget(addressLabel);
    m_address = new cvLineEdit(this);
    // A screen reader names the field by its label.
    addressLabel->setBuddy(m_address);
    m_address->setObjectName(QStringLiteral("ServerAddress"));
    m_address->setMaxLength(kMaxAddress);
    m_address->setPlaceholderSource(CV_TR("For example https://dms.example.com"));
    m_address->setText(QString::fromStdString(UserProfile::read(kSection, kKey, "")));
    body()->addWidget(m_address);
    QHBoxLayout *bar = new QHBoxLayout();
    bar->addStretch(1);
    cvPushButton *saveButton = new cvPushButton(CV_TR("Save"), this);
    saveButton->setObjectName(QStringLiteral("SaveButton"));
    saveButton->setProperty("primary", true);
    bar->addWidget(saveButton);
    body()->addLayout(bar);
    body()->addStretch(1);
    connect(saveButton, &QPushButton::clicked, this, [this] { save(); });
    connect(m_address, &QLineEdit::returnPressed, this, [this] { save(); });
}

bool DmsPage::isValidAddress(const QString &address)
{
    if (address.isEmpty())
        return true;
    if (address.size() > kMaxAddress)
        return false;
    for (const QChar c : address) {
        if (c.isSpace() || !c.isPrint())
            return false;
    }
    const bool hasScheme = address.contains(QLatin1String("://"));
    const QUrl url = QUrl(hasScheme ? address : QStringLiteral("https://") + address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return false;
    return url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http");
}

bool DmsPage::save()
{
    const QString address = m_address->text().trimmed();
    const QString title = CV_TR("Device management");
    if (!isValidAddress(address)) {
        if (m_host)
            m_host->warning(title, cvTranslate(CV_TR("Please enter a valid server address.")));
        return false;
    }
    if (!UserProfile::write(kSection, kKey, address.toStdString())) {
        if (m_host)
            m_host->warning(title, cvTranslate(CV_TR("The server address could not be saved.")));
        return false;
    }
    m_address->setText(address);
    if (m_host)
        m_host->information(title, cvTranslate(CV_TR("The server address has been saved.")));
    return true;
}
