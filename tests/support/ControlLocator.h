#pragma once

#include <QRect>
#include <QString>

// Finds controls of the running program by name through the test library (its "commands" action):
// object name, accessible name, text, or the English source text of a translated menu or action.
class ControlLocator
{
public:
    // outputFile: the program's TARN_TESTABILITY_OUT.
    explicit ControlLocator(const QString &outputFile);

    // The on-screen rectangle of the first visible control of that name, and the text it shows; null
    // when none showed within ms (0: one look).
    QRect locate(const QString &name, int ms, QString *text = nullptr);

private:
    QString m_output;
    int m_serial = 0;
};
