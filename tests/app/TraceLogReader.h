#pragma once

#include <QString>
#include <QStringList>

// Reads the text part of the trace lines this process wrote to its log file.
class TraceLogReader
{
public:
    // The log file below the document folder in force (etlGetAppDocPath()).
    static QString logFile();
    // Every line's text after "<date> <time> <pid>:<tid> ", in file order.
    static QStringList texts();
    // Lines whose text contains the fragment.
    static int count(const QString &fragment);
    // Marks the log's current end; lines written later are returned by textsSince.
    static qint64 mark();
    static QStringList textsSince(qint64 mark);
};
