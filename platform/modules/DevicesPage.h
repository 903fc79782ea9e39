#pragma once

#include "ModulePage.h"

class QStackedWidget;
class QTreeWidget;
class cvLabel;

// The default page: the USB devices connected now, with a refresh button.
class DevicesPage : public ModulePage
{
    Q_OBJECT
public:
    explicit DevicesPage(QWidget *parent = nullptr);

    void refresh();
    int deviceCount() const;
    // Null until a device has been found.
    QTreeWidget *deviceList() const { return m_list; }

private:
    QTreeWidget *ensureList();
    void retranslateHeaders();

    QTreeWidget *m_list = nullptr;
    cvLabel *m_count;
    cvWidget *m_empty;
    QStackedWidget *m_views;
};
