#pragma once

#include "ModulePage.h"

class ModuleHost;

// The installed version and the result of the update check.
class UpdatePage : public ModulePage
{
    Q_OBJECT
public:
    explicit UpdatePage(const ModuleHost *host, QWidget *parent = nullptr);

private:
    const ModuleHost *m_host;
};
