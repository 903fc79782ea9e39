#pragma once

#include <QDateTime>
#include <QString>

// Appends feedback entries to <doc>/feedback/feedback.txt; the folder is owner-only (0700) and
// so is the file (0600).
class FeedbackStore
{
public:
    static QString folder();
    static QString filePath();
    // One entry: a time-stamp line, the text, a blank line. False when nothing could be stored;
    // the file is never left with half an entry from this call's point of view.
    static bool append(const QString &text, const QDateTime &when = QDateTime::currentDateTime());
};
