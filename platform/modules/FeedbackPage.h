#pragma once

#include "ModulePage.h"

class ModuleHost;
class cvPlainTextEdit;

// A text box and a send button; what the user writes is kept in the feedback file.
class FeedbackPage : public ModulePage
{
    Q_OBJECT
public:
    explicit FeedbackPage(const ModuleHost *host, QWidget *parent = nullptr);

    cvPlainTextEdit *editor() const { return m_editor; }
    // Stores the text and clears the box; the text stays when it could not be stored.
    bool send();

private:
    const ModuleHost *m_host;
    cvPlainTextEdit *m_editor;
};
