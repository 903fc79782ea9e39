#pragma once

// Configuration values. "system.ini" and "version.ini" are read from <app-data root>/<file> when that
// file has the key, else from <install root>/config/<file>, else the default. Files are read afresh on
// every query. Unreadable, binary or malformed files count as absent values.
//
// Names compare exactly and case-sensitively; values lose surrounding blanks; a ";" after a blank starts a
// comment; the first of duplicate keys wins; CRLF and a UTF-8 byte order mark are accepted. IniFile.h
// gives the full rules.

#include "chMessageHandler.h"

#include <cstdint>
#include <string>

class chRegKey;

// The message a listened key's handler receives after a change: wParam 1 when the key now has a value
// (0 when it has none), data the value's text, lParam its integer when the text is one (else 0).
constexpr uint32_t DSK_MSG_REGISTRY_CHANGED = 0x52454701u;

std::string etlGetRegistryString(const std::string &file, const std::string &section, const std::string &key,
                                 const std::string &defaultValue);
// A value that is not a whole decimal integer within int's range counts as absent.
int etlGetRegistryInt(const std::string &file, const std::string &section, const std::string &key,
                      int defaultValue);

// Reads one value of the profile file at a full path.
std::string etlGetProfileString(const std::string &path, const std::string &section, const std::string &key,
                                const std::string &defaultValue);
// Writes one value of a profile file, keeping its other sections and keys; the file is replaced
// atomically and is owner-only. False when it cannot be written.
bool etlSetProfileString(const std::string &path, const std::string &section, const std::string &key,
                         const std::string &value);

// After each change of the key's value the operation is called on the calling thread (which must be a
// message thread). Edits in place and replacement by rename of either file are noticed within a second.
// The listening ends with registryUnlistenKey or with the key's destruction, which must come before the
// handler's (a key held as a member of its handler does so by itself).
bool registryListenKey(chRegKey &key, chMessageHandler *handler, chMsgOperation operation);
bool registryUnlistenKey(chRegKey &key, chMessageHandler *handler);
// Ends watching until the next registryListenKey: once it returns no configuration file is read and no
// change is posted, so nothing is traced about the files after the program's end has begun.
void registryStopWatching();
