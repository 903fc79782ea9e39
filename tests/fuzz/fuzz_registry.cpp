// The configuration reader. The input is "<section>\<LF><key>\<LF><value>\<LF><file text>" (names and value
// read the way FuzzedDataProvider reads strings: a backslash and any other byte end one). The file text is
// written as the user's "system.ini", the installation's "version.ini" and a profile "UserData.ini"; all
// three must give the same answers as the text parsed in memory, and the writer must either keep the
// profile as it was or change only the one value. A user copy over an installation copy that has the key
// checks which of them wins.

#include "ETLLib.h"
#include "FuzzCheck.h"
#include "IniFile.h"
#include "RegistryStore.h"
#include "TraceWriter.h"
#include "dskregistry.h"

#include <fcntl.h>
#include <ftw.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

namespace {

std::string g_folder;
std::string g_profile;

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return ::remove(path);
}

void removeFolder()
{
    if (!g_folder.empty())
        ::nftw(g_folder.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool blank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool writeFile(const std::string &path, const std::string &bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return ::close(fd) == 0 && ok;
}

std::string readFile(const std::string &path)
{
    std::string bytes;
    FUZZ_CHECK(IniFile::readBytes(path, bytes) == IniFile::Ok);
    return bytes;
}

// Whole decimal int: optional sign, at least one digit, nothing else, within int's range.
bool wholeInt(const std::string &text, int &value)
{
    size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (i == text.size())
        return false;
    const bool negative = text[0] == '-';
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > 1LL + INT_MAX)
            return false;
    }
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue < INT_MIN || signedValue > INT_MAX)
        return false;
    value = static_cast<int>(signedValue);
    return true;
}

using Entries = std::map<std::pair<std::string, std::string>, std::string>;

int collect(void *user, const char *section, const char *name, const char *value)
{
    static_cast<Entries *>(user)->emplace(std::make_pair(section, name), value);
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    TraceWriter::setLevel(0);
    // tmpfs when there is one: the writer syncs every file it replaces.
    std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string folder = base + "/tarn-fuzz-registry.XXXXXX";
    FUZZ_CHECK(::mkdtemp(&folder[0]) != nullptr);
    FUZZ_CHECK(::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1) == 0);
    etlOverrideAppRootPath(folder + "/root");
    FUZZ_CHECK(pathCreateDirectory(pathRemoveLastPart(RegistryStore::userFile("system.ini"))));
    FUZZ_CHECK(pathCreateDirectory(pathRemoveLastPart(RegistryStore::installFile("version.ini"))));
    FUZZ_CHECK(pathCreateDirectory(folder + "/profile"));
    g_profile = folder + "/profile/UserData.ini";
    g_folder = folder;
    std::atexit(removeFolder);
    // The parser's options are process-wide; let the reader set them before this file parses on its own.
    std::string unused;
    IniFile::lookup("[a]\nb=c\n", "a", "b", unused);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const std::string section = provider.ConsumeRandomLengthString(80);
    const std::string key = provider.ConsumeRandomLengthString(80);
    const std::string value = provider.ConsumeRandomLengthString(200);
    const std::string text = provider.ConsumeRemainingBytesAsString();

    const std::string systemFile = RegistryStore::userFile("system.ini");
    const std::string versionFile = RegistryStore::installFile("version.ini");
    FUZZ_CHECK(writeFile(systemFile, text));
    FUZZ_CHECK(writeFile(versionFile, text));
    FUZZ_CHECK(writeFile(g_profile, text));

    std::string inMemory;
    IniFile::Status status = IniFile::Ok;
    const bool found = IniFile::lookup(text, section, key, inMemory, &status);
    FUZZ_CHECK(!found || status == IniFile::Ok);
    if (found) {
        FUZZ_CHECK(inMemory.find_first_of(std::string("\n\0", 2)) == std::string::npos);
        FUZZ_CHECK(inMemory.empty() || (!blank(inMemory.front()) && !blank(inMemory.back())));
    }

    // Two defaults tell an absent value from one that equals a default.
    for (const char *file : {"system.ini", "version.ini"}) {
        const std::string a = etlGetRegistryString(file, section, key, "\x01");
        const std::string b = etlGetRegistryString(file, section, key, "\x02");
        FUZZ_CHECK(found ? (a == inMemory && b == inMemory) : (a == "\x01" && b == "\x02"));

        int expected = 0;
        const bool isInt = found && wholeInt(inMemory, expected);
        const int x = etlGetRegistryInt(file, section, key, INT_MIN);
        const int y = etlGetRegistryInt(file, section, key, INT_MAX);
        FUZZ_CHECK(isInt ? (x == expected && y == expected) : (x == INT_MIN && y == INT_MAX));
    }
    // The user's copy overrides the installation's only where it has the key (for integers: a whole one).
    const std::string fallbackText = "[" + section + "]\n" + key + "=-77\n";
    FUZZ_CHECK(writeFile(RegistryStore::userFile("override.ini"), text));
    FUZZ_CHECK(writeFile(RegistryStore::installFile("override.ini"), fallbackText));
    std::string fallback;
    const bool hasFallback = IniFile::lookup(fallbackText, section, key, fallback);
    const std::string merged = etlGetRegistryString("override.ini", section, key, "\x01");
    FUZZ_CHECK(merged == (found ? inMemory : hasFallback ? fallback : "\x01"));
    int userInt = 0, fallbackInt = 0;
    const bool userIsInt = found && wholeInt(inMemory, userInt);
    const bool fallbackIsInt = hasFallback && wholeInt(fallback, fallbackInt);
    const int mergedInt = etlGetRegistryInt("override.ini", section, key, INT_MAX);
    FUZZ_CHECK(mergedInt == (userIsInt ? userInt : fallbackIsInt ? fallbackInt : INT_MAX));

    const std::string profileValue = etlGetProfileString(g_profile, section, key, "\x01");
    FUZZ_CHECK(found ? profileValue == inMemory : profileValue == "\x01");

    // The writer either refuses and leaves the file alone, or the value reads back exactly, every other
    // value stays, and the file stays the owner's alone.
    Entries before;
    const bool parsedBefore = status == IniFile::Ok && ini_parse_string(text.c_str(), collect, &before) == 0;
    const bool written = etlSetProfileString(g_profile, section, key, value);
    const std::string after = readFile(g_profile);
    if (!written) {
        FUZZ_CHECK(after == text);
        return 0;
    }
    FUZZ_CHECK(etlGetProfileString(g_profile, section, key, "\x01") == value);
    struct stat st;
    FUZZ_CHECK(::stat(g_profile.c_str(), &st) == 0 && (st.st_mode & 0777) == 0600);
    if (parsedBefore) {
        for (const auto &entry : before) {
            const std::string &s = entry.first.first;
            const std::string &k = entry.first.second;
            if (s == section && k == key)
                continue;
            std::string old, now;
            const bool hadOld = IniFile::lookup(text, s, k, old);
            const bool hasNow = IniFile::lookup(after, s, k, now);
            FUZZ_CHECK(hadOld == hasNow);
            FUZZ_CHECK(old == now);
        }
    }
    return 0;
}
