#include "cvTranslate.h"

#include "languagehelper.h"

QString cvTranslate(const QString &englishSource)
{
    if (englishSource.isEmpty())
        return QString();
    return lang_Translate(lang_toLangText(englishSource));
}
