#include "TraceLogReader.h"

#include "ETLLib.h"

#include <QFile>

QString TraceLogReader::logFile()
{
    return QString::fromStdString(etlGetAppDocPath()) + QStringLiteral("/log/tarn-desktop.log");
}

static QStringList readTexts(qint64 from)
{
    QStringList result;
    QFile file(TraceLogReader::logFile());
    if (!file.open(QIODevice::ReadOnly)) {
        return result;
    }
    file.seek(from);
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty()) {
            continue;
        }
        // "<date> <time> <pid>:<tid> <tag> <text>": the text starts after the third blank.
        int cut = -1;
        for (int blanks = 0, i = 0; i < line.size(); ++i) {
            if (line.at(i) == ' ' && ++blanks == 3) {
                cut = i + 1;
                break;
            }
        }
        result << QString::fromUtf8(cut < 0 ? line : line.mid(cut));
    }
    return result;
}

QStringList TraceLogReader::texts()
{
    return readTexts(0);
}

int TraceLogReader::count(const QString &fragment)
{
    int n = 0;
    for (const QString &text : texts()) {
        if (text.contains(fragment)) {
            ++n;
        }
    }
    return n;
}

qint64 TraceLogReader::mark()
{
    QFile file(logFile());
    return file.exists() ? file.size() : 0;
}

QStringList TraceLogReader::textsSince(qint64 mark)
{
    return readTexts(mark);
}
