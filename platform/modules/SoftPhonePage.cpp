#include "SoftPhonePage.h"

#include "UserProfile.h"
#include "cvCheckBox.h"
#include "cvTr.h"

#include <QVBoxLayout>

namespace {
struct Option
{
    const char *key;
    const char *source;
    bool byDefault;
};

const Option kOptions[] = {
    {"bStartWithApp", CV_TR_NOOP("Start the soft phone together with the application"), true},
    {"bAutoAnswer", CV_TR_NOOP("Answer incoming calls automatically"), false},
    {"bRingTone", CV_TR_NOOP("Play a ring tone for incoming calls"), true},
};
} // namespace

SoftPhonePage::SoftPhonePage(QWidget *parent)
    : ModulePage(CV_TR("Soft phone"), CV_TR("Options for calls made with your headset."), parent)
{
    setObjectName(QStringLiteral("SoftPhonePage"));
    for (const Option &option : kOptions) {
        cvCheckBox *box = new cvCheckBox(QString::fromLatin1(option.source), this);
        box->setObjectName(QString::fromLatin1(option.key));
        const std::string stored = UserProfile::read(section(), option.key, option.byDefault ? "1" : "0");
        box->setChecked(stored == "1");
        const std::string key = option.key;
        connect(box, &QCheckBox::toggled, this,
                [key](bool on) { UserProfile::write(SoftPhonePage::section(), key, on ? "1" : "0"); });
        body()->addWidget(box);
    }
    body()->addStretch(1);
}
