#pragma once

#include "cvWidget.h"

class QVBoxLayout;
class cvLabel;

// The frame of a module's page: a title, a line saying what the page is for, and a body.
class ModulePage : public cvWidget
{
    Q_OBJECT
public:
    ModulePage(const QString &englishTitle, const QString &englishSubtitle, QWidget *parent = nullptr);

    QVBoxLayout *body() const { return m_body; }

private:
    cvLabel *m_title;
    cvLabel *m_subtitle;
    QVBoxLayout *m_body;
};
