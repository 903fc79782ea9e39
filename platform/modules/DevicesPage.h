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
    QTreeWidget *deviceList() const { return m_list; }

private:
    void retranslateHeaders();

    QTreeWidget *m_list;
    cvLabel *m_count;
    cvWidget *m_empty;
    QStackedWidget *m_views;
};
