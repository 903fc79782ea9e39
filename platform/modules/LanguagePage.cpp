#include "LanguagePage.h"

#include "ModuleHost.h"
#include "UserProfile.h"
#include "cvPushButton.h"
#include "cvTr.h"
#include "cvTranslate.h"
#include "dskthread.h"
#include "languagehelper.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QVariant>

namespace {
const char kLanguageProperty[] = "language";
const uint32_t kLanguageChanged = 703;
} // namespace

LanguagePage::LanguagePage(const ModuleHost *host, QWidget *parent)
    : ModulePage(CV_TR("Language"), CV_TR("Choose the language of the application."), parent), m_host(host),
      m_group(new QButtonGroup(this))
{
    setObjectName(QStringLiteral("LanguagePage"));
    const std::string current = lang_Current();
    // Each language is shown by its own name, which no catalogue translates.
    for (const std::string &language : lang_Available()) {
        QRadioButton *button = new QRadioButton(lang_DisplayName(language), this);
        button->setProperty(kLanguageProperty, QString::fromStdString(language));
        button->setChecked(language == current);
        m_group->addButton(button);
        body()->addWidget(button);
    }
    QHBoxLayout *bar = new QHBoxLayout();
    bar->addStretch(1);
    cvPushButton *applyButton = new cvPushButton(CV_TR("Apply"), this);
    applyButton->setObjectName(QStringLiteral("ApplyButton"));
    applyButton->setProperty("primary", true);
    bar->addWidget(applyButton);
    body()->addSpacing(8);
    body()->addLayout(bar);
    body()->addStretch(1);
    connect(applyButton, &QPushButton::clicked, this, [this] { apply(); });
    // After a switch, from here or elsewhere, the list shows the language in use.
    connect(this, &cvWidget::langConfigChanged, this, [this] { select(lang_Current()); });
}

std::string LanguagePage::selectedLanguage() const
{
    QAbstractButton *button = m_group->checkedButton();
    return button ? button->property(kLanguageProperty).toString().toStdString() : std::string();
}

bool LanguagePage::select(const std::string &language)
{
    const QString wanted = QString::fromStdString(language);
    for (QAbstractButton *button : m_group->buttons()) {
        if (button->property(kLanguageProperty).toString() == wanted) {
            button->setChecked(true);
            return true;
        }
    }
    return false;
}

bool LanguagePage::apply()
{
    const std::string language = selectedLanguage();
    if (language.empty())
        return false;
    if (!UserProfile::write("Language", "strWebLanguage", language)) {
        if (m_host)
            m_host->warning(CV_TR("Language"),
                            cvTranslate(CV_TR("The language setting could not be saved.")));
        return false;
    }
    msgBroadcastToGroup("MessageGroupLang", kLanguageChanged);
    return true;
}
