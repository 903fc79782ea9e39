#pragma once

#include "ModulePage.h"

#include <string>

class ModuleHost;
class QButtonGroup;

// Lists the shipped languages; applying one stores it in the profile and tells the program.
class LanguagePage : public ModulePage
{
    Q_OBJECT
public:
    explicit LanguagePage(const ModuleHost *host, QWidget *parent = nullptr);

    std::string selectedLanguage() const;
    // Selects a language of the list; false when it is not there.
    bool select(const std::string &language);
    // Stores the selected language and announces the change; false when it could not be stored.
    bool apply();

private:
    const ModuleHost *m_host;
    QButtonGroup *m_group;
};
