#include "languagehelper.h"

#include "ETLLib.h"
#include "LanguageCatalogue.h"

bool lang_Init(const std::string &language)
{
    const bool ok = LanguageCatalogue::instance().switchTo(language);
    etlModuleTrace(6, "I:languagehelper", "start language %s%s", language.c_str(),
                   ok ? "" : " not available");
    return ok;
}

bool lang_SwitchTo(const std::string &language)
{
    return LanguageCatalogue::instance().switchTo(language);
}

std::string lang_Current()
{
    return LanguageCatalogue::instance().current();
}

std::vector<std::string> lang_Available()
{
    return LanguageCatalogue::languages();
}

QString lang_DisplayName(const std::string &language)
{
    return LanguageCatalogue::displayName(language);
}

QString lang_toLangText(const QString &source)
{
    return source;
}

QString lang_Translate(const QString &key)
{
    return LanguageCatalogue::instance().translate(key);
}
