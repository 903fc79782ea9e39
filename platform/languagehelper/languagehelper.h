#pragma once

// Translation: catalogues resource/translations/tarn_<Language>.qm below the installation root,
// compiled from English source texts.

#include <QString>

#include <string>
#include <vector>

bool lang_Init(const std::string &language);
bool lang_SwitchTo(const std::string &language);
std::string lang_Current();
// Shipped languages by catalogue name: "English", "German", "French", "ChineseSimplified".
std::vector<std::string> lang_Available();
// The native name of a language, for pickers ("Deutsch" for "German").
QString lang_DisplayName(const std::string &language);
// Maps an English source text to the key the catalogues use.
QString lang_toLangText(const QString &source);
// The key's text in the current language; the English text when the catalogue lacks it.
QString lang_Translate(const QString &key);
