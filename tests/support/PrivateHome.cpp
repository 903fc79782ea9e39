#include "PrivateHome.h"

#include <QDir>
#include <QFile>

PrivateHome::PrivateHome()
{
    if (!m_dir.isValid()) {
        return;
    }
    QDir home(m_dir.path());
    m_valid = home.mkpath(QStringLiteral("config/tarn-desktop")) && home.mkpath(QStringLiteral("data")) &&
              home.mkpath(QStringLiteral("cache")) && home.mkpath(QStringLiteral("run")) &&
              QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString PrivateHome::logFile() const
{
    return dataDir() + QStringLiteral("/tarn-desktop/log/tarn-desktop.log");
}

bool PrivateHome::writeConfig(const QString &name, const QByteArray &text) const
{
    QFile file(configDir() + QStringLiteral("/tarn-desktop/") + name);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

void PrivateHome::applyTo(QProcessEnvironment *env) const
{
    env->insert(QStringLiteral("HOME"), path());
    env->insert(QStringLiteral("XDG_CONFIG_HOME"), configDir());
    env->insert(QStringLiteral("XDG_DATA_HOME"), dataDir());
    env->insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
    env->insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
}

void PrivateHome::applyToThisProcess() const
{
    QProcessEnvironment env;
    applyTo(&env);
    for (const QString &key : env.keys()) {
        qputenv(key.toLatin1().constData(), QFile::encodeName(env.value(key)));
    }
}
