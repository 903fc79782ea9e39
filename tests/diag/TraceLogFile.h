#pragma once

#include "ETLLib.h"
#include "UICommon.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QString>

// Reads the trace the process writes, oldest rotated file first.
class TraceLogFile
{
public:
    // Points the trace at this test's private document folder, as the program does at start-up.
    static void useTestDocFolder()
    {
        etlSetAppDocPath(getAppDocPath());
        pathCreateDirectory(etlGetAppDocPath() + "/log");
    }

    static QString path() { return QString::fromStdString(etlGetAppDocPath() + "/log/tarn-desktop.log"); }

    static QByteArray readAll()
    {
        QByteArray text;
        for (int i = 4; i >= 0; --i) {
            QFile file(i == 0 ? path() : path() + QLatin1Char('.') + QString::number(i));
            if (file.open(QIODevice::ReadOnly))
                text += file.readAll();
        }
        return text;
    }

    static QList<QByteArray> lines()
    {
        QList<QByteArray> result = readAll().split('\n');
        if (!result.isEmpty() && result.last().isEmpty())
            result.removeLast();
        return result;
    }

    // Lines this process wrote that hold `needle`. Earlier runs share the log and are left out, so
    // counts never shrink when the log rotates.
    static QList<QByteArray> linesContaining(const QByteArray &needle)
    {
        const QByteArray own = " " + QByteArray::number(QCoreApplication::applicationPid()) + ":";
        QList<QByteArray> result;
        for (const QByteArray &line : lines())
            if (line.contains(needle) && line.indexOf(own) == 23)
                result.append(line);
        return result;
    }
};
