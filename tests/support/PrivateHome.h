#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// A private HOME with its XDG folders, removed with the object: a test never reads or writes the
// user's files. The runtime folder is the owner's alone, as the login manager makes it.
class PrivateHome
{
public:
    PrivateHome();

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    QString configDir() const { return path(QStringLiteral("config")); }
    QString dataDir() const { return path(QStringLiteral("data")); }
    QString runtimeDir() const { return path(QStringLiteral("run")); }
    // The program's log file below the data folder.
    QString logFile() const;

    // Writes <XDG_CONFIG_HOME>/tarn-desktop/<name>.
    bool writeConfig(const QString &name, const QByteArray &text) const;

    // HOME and XDG_* pointing here.
    void applyTo(QProcessEnvironment *env) const;
    // The same for this process, for tests that run the code under test in-process.
    void applyToThisProcess() const;

private:
    QTemporaryDir m_dir;
    bool m_valid = false;
};
