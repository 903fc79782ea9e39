#pragma once

#include "ModulePage.h"

// Product name, version and a line about what the program is for.
class AboutPage : public ModulePage
{
    Q_OBJECT
public:
    explicit AboutPage(QWidget *parent = nullptr);
};
