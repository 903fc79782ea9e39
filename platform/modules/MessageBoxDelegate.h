#pragma once

#include "CMessageBoxDelegate.h"

#include <QList>
#include <QMessageBox>
#include <QPointer>

class QWidget;

// Non-modal message boxes over the main window; nothing waits in a nested event loop.
class MessageBoxDelegate : public CMessageBoxDelegate
{
public:
    void setParentWindow(QWidget *window);
    void setActive(bool active) { m_active = active; }
    bool active() const { return m_active; }

    void information(const QString &englishTitle, const QString &text) override;
    void warning(const QString &englishTitle, const QString &text) override;
    // Closes every box still open.
    void closeAll();
    QList<QMessageBox *> openBoxes() const;

private:
    void show(QMessageBox::Icon icon, const QString &englishTitle, const QString &text);

    QPointer<QWidget> m_parent;
    QList<QPointer<QMessageBox>> m_boxes;
    bool m_active = false;
};
