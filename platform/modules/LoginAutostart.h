#pragma once

#include <QString>
#include <QStringList>

// Start at login, the XDG way: an entry in a system autostart folder starts the program for every
// user, and an entry of the same file name in the user's own autostart folder takes its place for
// that user (Hidden=true turns it off).
class LoginAutostart
{
public:
    enum class Entry
    {
        Missing,
        Malformed,
        Enabled,
        Disabled
    };

    // The folders of this process's environment: $XDG_CONFIG_HOME/autostart (default
    // ~/.config/autostart) and <each of $XDG_CONFIG_DIRS>/autostart (default /etc/xdg/autostart).
    LoginAutostart();
    LoginAutostart(const QString &userFolder, const QStringList &systemFolders);

    static const char *entryName() { return "tarn-desktop.desktop"; }

    QString userEntryPath() const;
    // The system entry a session would start, or empty when no system folder has one.
    QString systemEntryPath() const;

    // Whether a session's autostart runner starts the program for this user. A user entry that a
    // runner cannot read is passed over, so the system entry decides then.
    bool isEnabled() const;
    // Makes the user's entry say so; false when it could not be written or removed (the files are
    // then as they were). program is the executable a user entry of its own starts.
    bool setEnabled(bool enabled, const QString &program);

    static Entry readEntry(const QString &path);
    // program as one argument of an Exec line followed by "autorun".
    static QString execLine(const QString &program);

private:
    bool writeUserEntry(bool hidden, const QString &program);

    QString m_userFolder;
    QStringList m_systemFolders;
};
