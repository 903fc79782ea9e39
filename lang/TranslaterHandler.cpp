#include "TranslaterHandler.h"

#include "ETLLib.h"
#include "UICommon.h"
#include "cvCheckBox.h"
#include "cvLabel.h"
#include "cvLineEdit.h"
#include "cvPlainTextEdit.h"
#include "cvPushButton.h"
#include "cvRadioButton.h"
#include "cvRichEditor.h"
#include "cvTextEdit.h"
#include "cvWidget.h"
#include "dskregistry.h"
#include "dskthread.h"
#include "languagehelper.h"
#include "msgObject.h"

#include <QApplication>
#include <QPointer>
#include <QVector>
#include <QWidget>

namespace {

constexpr uint32_t kLangChangedMessage = 703;
const char *const kLangGroup = "MessageGroupLang";
const char *const kDefaultLanguage = "English";

std::string profilePath()
{
    return etlGetAppDataRootPath() + "/Config/UserData.ini";
}

std::string readProfileLanguage(const std::string &defaultValue)
{
    return etlGetProfileString(profilePath(), "Language", "strWebLanguage", defaultValue);
}

} // namespace

TranslaterHandler::TranslaterHandler(TarnApplication *application)
    : QObject(nullptr), chMessageHandler(), joined(false), application(application)
{
}

TranslaterHandler::~TranslaterHandler()
{
    application = nullptr;
}

void TranslaterHandler::initLanguage()
{
    if (joined) {
        return;
    }
    joined = true;

    msgJoinMessageGroup(kLangGroup, this, chMsgOp(&TranslaterHandler::onLangMessage));

    std::string language = readProfileLanguage(std::string());
    if (language.empty()) {
        language = registryGetProgrameLang();
    }
    if (language.empty()) {
        language = kDefaultLanguage;
    }
    lang_Init(language);
}

std::string TranslaterHandler::readLanguageSetting()
{
    return readProfileLanguage(kDefaultLanguage);
}

int TranslaterHandler::onLangMessage(msgObject &msg)
{
    if (msg.message != kLangChangedMessage) {
        return 0;
    }

    std::string language = readLanguageSetting();
    // A key written with no value would otherwise switch to a language that does not exist and leave
    // the trace claiming a switch; treat it like an absent key.
    if (language.empty()) {
        language = kDefaultLanguage;
    }
    lang_SwitchTo(language);

    if (application != nullptr) {
        // Guarded copies: a widget's re-translation may delete another top-level window.
        const QWidgetList topLevels = QApplication::topLevelWidgets();
        QVector<QPointer<QWidget>> guarded;
        guarded.reserve(topLevels.size());
        for (QWidget *widget : topLevels) {
            guarded.append(widget);
        }
        for (const QPointer<QWidget> &widget : guarded) {
            if (widget.isNull()) {
                continue;
            }
            retranslateWidget(widget.data());
            if (!widget.isNull()) {
                widget->update();
            }
        }
    }

    etlModuleTrace(5, "N:TranslaterHandler", "Switch lang to %s.", language.c_str());
    emit LangConfigChanged();
    return 1;
}

void TranslaterHandler::retranslateWidget(QObject *widget)
{
    if (widget == nullptr) {
        return;
    }

    if (widget->inherits("cvWidget")) {
        static_cast<cvWidget *>(widget)->dealLangConfigChanged();
    } else if (widget->inherits("cvLineEdit")) {
        static_cast<cvLineEdit *>(widget)->dealLangConfigChanged();
    } else if (widget->inherits("cvLabel")) {
        static_cast<cvLabel *>(widget)->dealLangConfigChanged();
    } else if (widget->inherits("cvRichEditor")) {
        static_cast<cvRichEditor *>(widget)->dealLangConfigChanged();
    } else if (widget->inherits("cvTextEdit")) {
        static_cast<cvTextEdit *>(widget)->ResetPlaceHolderText();
    } else if (widget->inherits("cvPlainTextEdit")) {
        static_cast<cvPlainTextEdit *>(widget)->ResetPlaceHolderText();
    } else if (widget->inherits("cvPushButton")) {
        static_cast<cvPushButton *>(widget)->dealLangConfigChanged();
    } else if (widget->inherits("cvCheckBox")) {
        static_cast<cvCheckBox *>(widget)->dealLangConfigChanged();
    } else if (widget->inherits("cvRadioButton")) {
        static_cast<cvRadioButton *>(widget)->dealLangConfigChanged();
    }

    // The copy is guarded so that a child deleted by an earlier sibling's re-translation is skipped
    // rather than visited after it is gone.
    const QObjectList &children = widget->children();
    if (children.isEmpty()) {
        return;
    }
    QVector<QPointer<QObject>> guarded;
    guarded.reserve(children.size());
    for (QObject *child : children) {
        guarded.append(child);
    }
    for (const QPointer<QObject> &child : guarded) {
        if (!child.isNull() && child->inherits("QWidget")) {
            retranslateWidget(child.data());
        }
    }
}
