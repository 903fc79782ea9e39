#pragma once

// Helpers of the UI common library.

#include "winapi.h"

#include <QDateTime>
#include <QString>

#include <string>

// $XDG_DATA_HOME/tarn-desktop (default ~/.local/share/tarn-desktop), no trailing separator.
std::string getAppDocPath();
// The primary screen's scale (device pixel ratio times logical DPI / 96); 1.0 without a screen.
float getCurrentDpiSize();
// The nearest supported scale: "1", "1.25", "1.5" or "2".
std::string dpiSize2String(float scale);
QString toQString(const std::string &text, bool local8Bit);
// The language of the user's locale (LC_ALL, LC_MESSAGES, LANG) named as the catalogues name it,
// empty when none matches or the locale is C/POSIX.
std::string registryGetProgrameLang();
QDateTime GetLocalTime();

// Splits the command line by the Windows rules and starts the program without a shell, its standard
// streams on /dev/null, bound to this process's job: the child may trace this process (dump tools),
// it is reaped when it ends, and "X" without an extension also finds "X.exe".
BOOL AutoCreateProcessInJobA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                             LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                             LPVOID environment, LPCSTR currentDirectory);
