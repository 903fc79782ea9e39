#pragma once

#include "ModulePage.h"

class ModuleHost;
class cvLineEdit;

// The address of the device-management server, stored in the profile.
class DmsPage : public ModulePage
{
    Q_OBJECT
public:
    explicit DmsPage(const ModuleHost *host, QWidget *parent = nullptr);

    // An empty address (no server) or http(s)://host[:port][/path] or host[:port].
    static bool isValidAddress(const QString &address);
    // Stores what the field holds; false (and a warning) when it is not a valid address.
    bool save();
    cvLineEdit *addressField() const { return m_address; }

private:
    const ModuleHost *m_host;
    cvLineEdit *m_address;
};
