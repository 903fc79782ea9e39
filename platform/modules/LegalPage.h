#pragma once

#include "ModulePage.h"

#include <QStringList>

// A short legal text: a title and its paragraphs.
class LegalPage : public ModulePage
{
    Q_OBJECT
public:
    LegalPage(const QString &englishTitle, const QStringList &englishParagraphs, QWidget *parent = nullptr);
};
