#include "LoginAutostart.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextCodec>

#include <sys/stat.h>

namespace {
// An autostart entry is a few hundred bytes; anything far larger is not one.
const qint64 kMaxEntrySize = 64 * 1024;

bool isAbsolute(const QString &path)
{
    return path.startsWith(QLatin1Char('/'));
}

bool validKey(const QByteArray &key)
{
    // Letters, digits and '-', optionally followed by a locale in brackets.
    const int bracket = key.indexOf('[');
    const QByteArray name = bracket < 0 ? key : key.left(bracket);
    if (name.isEmpty())
        return false;
    for (char c : name) {
        const bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok)
            return false;
    }
    return bracket < 0 || (key.endsWith(']') && key.size() > bracket + 2);
}

bool needsQuoting(const QString &argument)
{
    static const QString kReserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    for (QChar c : argument) {
        if (kReserved.contains(c))
            return true;
    }
    return argument.isEmpty();
}
} // namespace

LoginAutostart::LoginAutostart()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!isAbsolute(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    m_userFolder = configHome + QStringLiteral("/autostart");

    for (const QString &dir : qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'))) {
        if (isAbsolute(dir))
            m_systemFolders << dir + QStringLiteral("/autostart");
    }
    if (m_systemFolders.isEmpty())
        m_systemFolders << QStringLiteral("/etc/xdg/autostart");
}

LoginAutostart::LoginAutostart(const QString &userFolder, const QStringList &systemFolders)
    : m_userFolder(userFolder), m_systemFolders(systemFolders)
{
}

QString LoginAutostart::userEntryPath() const
{
    return m_userFolder + QLatin1Char('/') + QLatin1String(entryName());
}

QString LoginAutostart::systemEntryPath() const
{
    for (const QString &folder : m_systemFolders) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(entryName());
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

bool LoginAutostart::isEnabled() const
{
    const Entry user = readEntry(userEntryPath());
    if (user == Entry::Enabled || user == Entry::Disabled)
        return user == Entry::Enabled;
    const QString system = systemEntryPath();
    return !system.isEmpty() && readEntry(system) == Entry::Enabled;
}

bool LoginAutostart::setEnabled(bool enabled, const QString &program)
{
    if (!enabled)
        return writeUserEntry(true, program);
    const QString system = systemEntryPath();
    if (!system.isEmpty() && readEntry(system) == Entry::Enabled) {
        // The system entry starts the program; the user's own entry only has to go.
        QFile user(userEntryPath());
        if (!QFileInfo(user.fileName()).isSymLink() && !user.exists())
            return true;
        if (QFileInfo(user.fileName()).isDir())
            return false;
        return user.remove();
    }
    return writeUserEntry(false, program);
}

bool LoginAutostart::writeUserEntry(bool hidden, const QString &program)
{
    if (!QDir().mkpath(m_userFolder))
        return false;
    const QString path = userEntryPath();
    if (QFileInfo(path).isDir())
        return false;
    QByteArray text("[Desktop Entry]\n"
                    "Type=Application\n"
                    "Name=Corvane Connect\n");
    text += "Exec=" + execLine(program).toUtf8() + '\n';
    text += "Icon=tarn-desktop\nTerminal=false\nNoDisplay=true\n";
    text += hidden ? "Hidden=true\n" : "Hidden=false\nX-GNOME-Autostart-enabled=true\n";

    // Written beside the entry and renamed over it, so a session never reads half an entry.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (::fchmod(file.handle(), 0644) != 0 || file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

LoginAutostart::Entry LoginAutostart::readEntry(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Entry::Missing;
    QFile file(path);
    if (!info.isFile() || info.size() > kMaxEntrySize || !file.open(QIODevice::ReadOnly))
        return Entry::Malformed;
    const QByteArray bytes = file.read(kMaxEntrySize + 1);
    if (bytes.size() > kMaxEntrySize || bytes.contains('\0'))
        return Entry::Malformed;
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0)
        return Entry::Malformed;

    bool seenGroup = false;
    bool inEntry = false;
    bool seenEntry = false;
    QByteArray type, exec, hidden, autostartEnabled;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        if (trimmed.startsWith('[')) {
            if (!trimmed.endsWith(']') || trimmed.size() < 3)
                return Entry::Malformed;
            const bool desktopEntry = trimmed == "[Desktop Entry]";
            // The first group is the entry itself; it appears once.
            if ((!seenGroup && !desktopEntry) || (desktopEntry && seenEntry))
                return Entry::Malformed;
            seenGroup = true;
            inEntry = desktopEntry;
            seenEntry = seenEntry || desktopEntry;
            continue;
        }
        const int equals = line.indexOf('=');
        if (!seenGroup || equals < 0)
            return Entry::Malformed;
        const QByteArray key = line.left(equals).trimmed();
        if (!validKey(key))
            return Entry::Malformed;
        if (!inEntry)
            continue;
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Type")
            type = value;
        else if (key == "Exec")
            exec = value;
        else if (key == "Hidden")
            hidden = value;
        else if (key == "X-GNOME-Autostart-enabled")
            autostartEnabled = value;
    }
    if (!seenEntry)
        return Entry::Malformed;
    // Booleans are "true" and "false"; runners also take them capitalised, and refuse anything else.
    if (!hidden.isEmpty() && hidden != "true" && hidden != "True" && hidden != "false" && hidden != "False")
        return Entry::Malformed;
    if (hidden == "true" || hidden == "True")
        return Entry::Disabled;
    if (type != "Application" || exec.isEmpty())
        return Entry::Malformed;
    if (autostartEnabled == "false")
        return Entry::Disabled;
    return Entry::Enabled;
}

QString LoginAutostart::execLine(const QString &program)
{
    bool printable = !program.isEmpty();
    for (QChar c : program) {
        if (c.category() == QChar::Other_Control)
            printable = false;
    }
    // A path no Exec line can hold is started by name from the search path instead.
    QString argument = printable ? program : QStringLiteral("tarn-desktop");
    if (needsQuoting(argument)) {
        QString quoted;
        for (QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = QLatin1Char('"') + quoted + QLatin1Char('"');
    }
    // Exec is a string value first: its own escapes apply on top of the quoting, and a field code
    // starts with '%'.
    argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return argument + QStringLiteral(" autorun");
}
