#pragma once

#include "chMessageHandler.h"
#include "chRegKey.h"

#include <QtGlobal>

class QMessageLogContext;
class QString;
class msgObject;

// Routes Qt's own messages into the trace while "qtLogEnable" is on.
class qtLogControl : public chMessageHandler
{
public:
    qtLogControl();
    ~qtLogControl() override;

    void qtLogRedirect();
    int onLogSwitchMessage(msgObject &msg);
    static void qtLogOutput(QtMsgType type, const QMessageLogContext &context, const QString &message);

    bool redirectEnabled() const { return m_redirectEnabled; }

private:
    chRegKey m_switchKey;
    bool m_redirectEnabled;
};
