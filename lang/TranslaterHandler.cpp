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
#include <QHash>
#include <QPointer>
#include <QVector>
#include <QWidget>

#include <typeinfo>

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

// The widget library's classes, in the order they are tested; a widget gets the operation of the first
// class it inherits.
const char *const kRetranslatedClasses[] = {"cvWidget",     "cvLineEdit", "cvLabel",
                                            "cvRichEditor", "cvTextEdit", "cvPlainTextEdit",
                                            "cvPushButton", "cvCheckBox", "cvRadioButton"};

// 1 to 9 for the first class of the table that the widget inherits, 0 for none. What inherits() answers
// is a property of the widget's class, so it is asked once per class rather than nine times per widget.
int retranslationRow(QObject *widget)
{
    static QHash<const void *, int> rows;
    const void *type = &typeid(*widget);
    const auto it = rows.constFind(type);
    if (it != rows.constEnd()) {
        return it.value();
    }
    int row = 0;
    for (int i = 0; i < 9; ++i) {
        if (widget->inherits(kRetranslatedClasses[i])) {
            row = i + 1;
            break;
        }
    }
    rows.insert(type, row);
    return row;
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

    // The stored value is used as it is: a key written with no value names no language, so the switch
    // fails and the language in use stays, with the warning below.
    const std::string language = readLanguageSetting();
    if (!lang_SwitchTo(language)) {
        // The switch line below is what log readers look for; say first that it did not take effect.
        etlModuleTrace(4, "W:TranslaterHandler", "Language %s is not available, keeping %s.",
                       language.c_str(), lang_Current().c_str());
    }

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

    switch (retranslationRow(widget)) {
    case 1:
        static_cast<cvWidget *>(widget)->dealLangConfigChanged();
        break;
    case 2:
        static_cast<cvLineEdit *>(widget)->dealLangConfigChanged();
        break;
    case 3:
        static_cast<cvLabel *>(widget)->dealLangConfigChanged();
        break;
    case 4:
        static_cast<cvRichEditor *>(widget)->dealLangConfigChanged();
        break;
    case 5:
        static_cast<cvTextEdit *>(widget)->ResetPlaceHolderText();
        break;
    case 6:
        static_cast<cvPlainTextEdit *>(widget)->ResetPlaceHolderText();
        break;
    case 7:
        static_cast<cvPushButton *>(widget)->dealLangConfigChanged();
        break;
    case 8:
        static_cast<cvCheckBox *>(widget)->dealLangConfigChanged();
        break;
    case 9:
        static_cast<cvRadioButton *>(widget)->dealLangConfigChanged();
        break;
    default:
        break;
    }

    const QObjectList &current = widget->children();
    if (current.isEmpty()) {
        return;
    }
    // A re-translation may delete widgets: the parent, a later sibling or a child. The copy shares the
    // parent's list until the parent changes it, so an unchanged list is seen at once; once it has
    // changed, a child that has left the list is skipped instead of being visited after it is gone.
    const QPointer<QObject> guard(widget);
    const QObjectList copy = current;
    bool changed = false;
    for (QObject *child : copy) {
        if (guard.isNull()) {
            return;
        }
        if (!changed) {
            changed = widget->children().constBegin() != copy.constBegin();
        }
        if (changed && !widget->children().contains(child)) {
            continue;
        }
        if (child != nullptr && child->isWidgetType()) {
            retranslateWidget(child);
        }
    }
}
