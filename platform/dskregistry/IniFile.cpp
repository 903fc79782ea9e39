#include "IniFile.h"

#include "ETLLib.h"
#include "UniqueFd.h"

#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// libinih keeps its options in process-wide variables. Lines are read whole into a growing heap buffer
// (the default stack buffer would split long lines and turn their tails into lines of their own), and
// indented lines are not glued to the previous value.
void configureParser()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ini_use_stack = false;
        ini_allow_realloc = true;
        ini_initial_alloc = 256;
        ini_max_line = static_cast<int>(IniFile::kMaxLineBytes) + 8;
        ini_allow_multiline = false;
        ini_allow_bom = true;
        ini_allow_no_value = false;
        ini_stop_on_first_error = false;
    });
}

struct LookupContext
{
    const std::string *section;
    const std::string *key;
    std::string *value;
    bool found;
};

int lookupHandler(void *user, const char *section, const char *name, const char *value)
{
    auto *ctx = static_cast<LookupContext *>(user);
    if (!ctx->found && *ctx->section == section && *ctx->key == name) {
        *ctx->value = value;
        ctx->found = true;
    }
    return 1;
}

IniFile::Status checkText(const std::string &text)
{
    if (text.find('\0') != std::string::npos) {
        return IniFile::Binary;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end - start > IniFile::kMaxLineBytes) {
            return IniFile::LineTooLong;
        }
        start = end + 1;
    }
    return IniFile::Ok;
}

bool isBlank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string trimmed(const std::string &s)
{
    size_t b = 0;
    size_t e = s.size();
    while (b < e && isBlank(s[b])) {
        ++b;
    }
    while (e > b && isBlank(s[e - 1])) {
        --e;
    }
    return s.substr(b, e - b);
}

// Position of the first of chars, or of an inline comment, the way the parser scans.
size_t findCharsOrComment(const std::string &s, size_t from, const char *chars)
{
    bool wasSpace = false;
    size_t i = from;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (chars && std::strchr(chars, c)) {
            break;
        }
        if (wasSpace && c == ';') {
            break;
        }
        wasSpace = isBlank(c);
    }
    return i;
}

struct Line
{
    enum Kind
    {
        Other,
        Section,
        Entry,
    };
    Kind kind = Other;
    std::string name;
};

Line classify(const std::string &raw, bool first)
{
    std::string s = raw;
    if (first && s.size() >= 3 && s.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        s.erase(0, 3);
    }
    s = trimmed(s);
    Line line;
    if (s.empty() || s[0] == ';' || s[0] == '#') {
        return line;
    }
    if (s[0] == '[') {
        const size_t end = findCharsOrComment(s, 1, "]");
        if (end < s.size() && s[end] == ']') {
            line.kind = Line::Section;
            line.name = s.substr(1, end - 1);
        }
        return line;
    }
    const size_t end = findCharsOrComment(s, 0, "=:");
    if (end < s.size() && (s[end] == '=' || s[end] == ':')) {
        line.kind = Line::Entry;
        line.name = trimmed(s.substr(0, end));
    }
    return line;
}

std::mutex &writeMutex()
{
    static std::mutex m;
    return m;
}

} // namespace

IniFile::Status IniFile::readBytes(const std::string &path, std::string &bytes)
{
    bytes.clear();
    if (path.empty()) {
        return Missing;
    }
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.isValid()) {
        return (errno == ENOENT || errno == ENOTDIR) ? Missing : Unreadable;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return Unreadable;
    }
    if (static_cast<unsigned long long>(st.st_size) > kMaxFileBytes) {
        return TooLarge;
    }
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[16384];
    Status status = Ok;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            status = Unreadable;
            break;
        }
        if (n == 0) {
            break;
        }
        if (bytes.size() + static_cast<size_t>(n) > kMaxFileBytes) {
            status = TooLarge;
            break;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
    if (status != Ok) {
        bytes.clear();
    }
    return status;
}

bool IniFile::lookup(const std::string &text, const std::string &section, const std::string &key,
                     std::string &value, Status *status)
{
    Status s = checkText(text);
    bool found = false;
    if (s == Ok && section.size() <= kMaxSectionBytes) {
        configureParser();
        std::string candidate;
        LookupContext ctx{&section, &key, &candidate, false};
        if (ini_parse_string(text.c_str(), lookupHandler, &ctx) != 0) {
            s = Malformed;
        } else if (ctx.found) {
            value = candidate;
            found = true;
        }
    }
    if (status) {
        *status = s;
    }
    return found;
}

bool IniFile::find(const std::string &path, const std::string &section, const std::string &key,
                   std::string &value, Status *status)
{
    std::string text;
    Status s = readBytes(path, text);
    bool found = false;
    if (s == Ok) {
        found = lookup(text, section, key, value, &s);
    }
    if (s != Ok && s != Missing) {
        etlModuleTrace(4, "W:dskregistry", "%s ignored: %s", path.c_str(), statusText(s));
    }
    if (status) {
        *status = s;
    }
    return found;
}

bool IniFile::edit(const std::string &text, const std::string &section, const std::string &key,
                   const std::string &value, std::string &result)
{
    // Line breaks are refused outright, even a lone CR that this parser would keep: other readers of the
    // file split lines there.
    for (const std::string *part : {&section, &key, &value}) {
        if (part->find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            return false;
        }
    }
    if (key.empty() || checkText(text) != Ok) {
        return false;
    }
    const std::string newline = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";

    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = (end == std::string::npos) ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }

    std::string current;
    bool inFirst = section.empty();
    bool sectionSeen = section.empty();
    long lastEntry = -1;
    long keyLine = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line line = classify(lines[i], i == 0);
        if (line.kind == Line::Section) {
            current = line.name;
            inFirst = !sectionSeen && current == section;
            if (inFirst) {
                sectionSeen = true;
                lastEntry = static_cast<long>(i);
            }
        } else if (line.kind == Line::Entry) {
            if (keyLine < 0 && current == section && line.name == key) {
                keyLine = static_cast<long>(i);
            }
            if (inFirst) {
                lastEntry = static_cast<long>(i);
            }
        }
    }

    const std::string entry = key + "=" + value;
    if (keyLine >= 0) {
        std::string &old = lines[static_cast<size_t>(keyLine)];
        const bool bom = keyLine == 0 && old.compare(0, 3, "\xEF\xBB\xBF") == 0;
        std::string ending;
        if (!old.empty() && old.back() == '\n') {
            ending = (old.size() >= 2 && old[old.size() - 2] == '\r') ? "\r\n" : "\n";
        }
        old = (bom ? std::string("\xEF\xBB\xBF") : std::string()) + entry + ending;
    } else if (sectionSeen) {
        const size_t at = static_cast<size_t>(lastEntry + 1);
        if (at > 0 && !lines[at - 1].empty() && lines[at - 1].back() != '\n') {
            lines[at - 1] += newline;
        }
        std::string added = entry + newline;
        // A line put before the first one takes over the byte order mark, which only counts at the very
        // start: left behind, it would turn the old first line into a different one.
        if (at == 0 && !lines.empty() && lines[0].compare(0, 3, "\xEF\xBB\xBF") == 0) {
            lines[0].erase(0, 3);
            added.insert(0, "\xEF\xBB\xBF");
        }
        lines.insert(lines.begin() + static_cast<long>(at), added);
    } else {
        if (!lines.empty() && !lines.back().empty() && lines.back().back() != '\n') {
            lines.back() += newline;
        }
        if (!lines.empty() && !trimmed(lines.back()).empty()) {
            lines.push_back(newline);
        }
        lines.push_back("[" + section + "]" + newline);
        lines.push_back(entry + newline);
    }

    std::string out;
    out.reserve(text.size() + entry.size() + section.size() + 8);
    for (const std::string &l : lines) {
        out += l;
    }
    std::string readBack;
    if (!lookup(out, section, key, readBack) || readBack != value) {
        return false;
    }
    result.swap(out);
    return true;
}

bool IniFile::write(const std::string &path, const std::string &section, const std::string &key,
                    const std::string &value)
{
    if (path.empty()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(writeMutex());

    // Write through a link to the file it names, so linked profiles stay linked.
    std::string target = path;
    struct stat lst;
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        char *resolved = ::realpath(path.c_str(), nullptr);
        if (resolved) {
            target = resolved;
            std::free(resolved);
        }
    }
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty() || !pathCreateDirectory(slash == 0 ? std::string("/") : folder)) {
        etlModuleTrace(4, "W:dskregistry", "cannot create the folder of %s", path.c_str());
        return false;
    }

    std::string text;
    const Status status = readBytes(target, text);
    if (status != Ok && status != Missing) {
        etlModuleTrace(4, "W:dskregistry", "%s not written: %s", path.c_str(), statusText(status));
        return false;
    }
    std::string updated;
    if (!edit(text, section, key, value, updated)) {
        etlModuleTrace(4, "W:dskregistry", "%s not written: [%s] %s cannot hold that value", path.c_str(),
                       section.c_str(), key.c_str());
        return false;
    }

    std::string temp = (slash == std::string::npos ? std::string() : folder + "/") + "." + base + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.isValid()) {
        etlModuleTrace(4, "W:dskregistry", "%s not written: no temporary file (%s)", path.c_str(),
                       std::strerror(errno));
        return false;
    }
    bool ok = ::fchmod(fd.get(), 0600) == 0 && writeAll(fd.get(), updated.data(), updated.size()) &&
              ::fsync(fd.get()) == 0;
    ok = fd.close() && ok;
    if (ok) {
        ok = ::rename(name.data(), target.c_str()) == 0;
    }
    if (!ok) {
        etlModuleTrace(4, "W:dskregistry", "%s not written: %s", path.c_str(), std::strerror(errno));
        ::unlink(name.data());
        return false;
    }
    const UniqueFd dirFd(::open(slash == std::string::npos ? "." : (slash == 0 ? "/" : folder.c_str()),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.isValid()) {
        ::fsync(dirFd.get());
    }
    return true;
}

const char *IniFile::statusText(Status status)
{
    switch (status) {
    case Ok:
        return "ok";
    case Missing:
        return "missing";
    case Unreadable:
        return "not a readable file";
    case TooLarge:
        return "too large";
    case Binary:
        return "binary content";
    case LineTooLong:
        return "line too long";
    case Malformed:
        return "malformed";
    }
    return "?";
}
