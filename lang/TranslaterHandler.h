#pragma once

#include "chMessageHandler.h"

#include <QObject>

#include <string>

class TarnApplication;
class msgObject;

// Sets the start-up language and re-translates every widget on a language-change message.
// The meta-object answers "chMessageHandler" with the handler part (moc casts to each further base).
class TranslaterHandler : public QObject, public chMessageHandler
{
    Q_OBJECT
public:
    explicit TranslaterHandler(TarnApplication *application);
    ~TranslaterHandler() override;

    void initLanguage();
    int onLangMessage(msgObject &msg);
    static std::string readLanguageSetting();
    void retranslateWidget(QObject *widget);

signals:
    void LangConfigChanged();

private:
    bool joined;
    TarnApplication *application;
};
