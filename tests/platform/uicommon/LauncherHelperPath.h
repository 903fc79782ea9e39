#pragma once

#include <QDir>
#include <QString>

// The helper program that registers itself under a launcher name: from the test's environment, else
// beside the build's installation root.
inline QString launcherHelperPath()
{
    const QString fromEnv = qEnvironmentVariable("TARN_LAUNCHER_HELPER");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QDir::cleanPath(qEnvironmentVariable("TARN_TEST_ROOT") + "/../tests/helpers/tarn-launcher-helper");
}
