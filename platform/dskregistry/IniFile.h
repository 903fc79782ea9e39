#pragma once

#include <string>

// Reading and editing of small INI files. Parsing is libinih's; this class decides which files are fit
// to be parsed at all and keeps edits byte-for-byte outside the line that changes.
//
// Reading rules:
// - Section and key names compare exactly and case-sensitively. Section names longer than 48 bytes
//   never match (the parser would truncate them).
// - Values lose surrounding blanks. A ';' preceded by a blank starts a comment; whole-line comments start
//   with ';' or '#'. A line splits into key and value at its first '=' or ':'.
// - When a key appears more than once in a section, the first occurrence wins.
// - A UTF-8 byte order mark and CRLF line ends are accepted.
// - A file that is not a regular readable file, is larger than kMaxFileBytes, holds a NUL byte, has a line
//   longer than kMaxLineBytes or has any line the parser rejects (no '=' or ':', unterminated section,
//   indented continuation lines) has no values at all.
class IniFile
{
public:
    enum Status
    {
        Ok,
        Missing,
        Unreadable,
        TooLarge,
        Binary,
        LineTooLong,
        Malformed,
    };

    static constexpr size_t kMaxFileBytes = 16u * 1024u * 1024u;
    static constexpr size_t kMaxLineBytes = 64u * 1024u;
    static constexpr size_t kMaxSectionBytes = 48;

    // Reads a regular file whole. Never blocks on FIFOs or devices.
    static Status readBytes(const std::string &path, std::string &bytes);
    // Checks the text and, when it is well formed, looks the key up. status receives why nothing was
    // found when the text is unfit (Ok otherwise).
    static bool lookup(const std::string &text, const std::string &section, const std::string &key,
                       std::string &value, Status *status = nullptr);
    // readBytes and lookup in one; absent for every unfit file.
    static bool find(const std::string &path, const std::string &section, const std::string &key,
                     std::string &value, Status *status = nullptr);
    // The text with the key set to the value: the first occurrence of the key is replaced, else the line is
    // added to the end of the section's first occurrence, else a new section is appended. False when the
    // result would not read back the value (bad names or values, or an unfit text).
    static bool edit(const std::string &text, const std::string &section, const std::string &key,
                     const std::string &value, std::string &result);
    // Sets the key in the file: the new text goes to a temporary file in the same folder, is synced and
    // renamed over the old one. The file ends up mode 0600; missing parent folders are created 0700.
    static bool write(const std::string &path, const std::string &section, const std::string &key,
                      const std::string &value);

    static const char *statusText(Status status);
};
