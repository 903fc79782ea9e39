#pragma once

#include "ModulePage.h"

class cvCheckBox;

// Soft-phone options, each stored in the profile as soon as it is changed.
class SoftPhonePage : public ModulePage
{
    Q_OBJECT
public:
    explicit SoftPhonePage(QWidget *parent = nullptr);

    static const char *section() { return "SoftPhone"; }
};
