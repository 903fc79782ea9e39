#include "qtLogControl.h"

#include "ETLLib.h"
#include "dskregistry.h"
#include "msgObject.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdlib>

namespace {

const char *const kSwitchTag = "N:qtLogOutput";
const char *const kSwitchFormat = "[%s][redirect qt log result : %d]";
const char *const kSwitchOrigin = "qtLogControl::qtLogRedirect";

void applyRedirect(bool enabled)
{
    etlModuleTrace(5, kSwitchTag, kSwitchFormat, kSwitchOrigin, enabled ? 1 : 0);
    qInstallMessageHandler(enabled ? &qtLogControl::qtLogOutput : nullptr);
}

} // namespace

qtLogControl::qtLogControl() : m_redirectEnabled(false) {}

// The program never deletes this object; should anyone else do so, the registry must not keep a
// reference to the key that goes with it. The Qt handler itself stays in place.
qtLogControl::~qtLogControl()
{
    if (m_switchKey.IsOpen())
        registryUnlistenKey(m_switchKey, this);
}

void qtLogControl::qtLogRedirect()
{
    m_switchKey.OpenKey("system.ini", "Syslog", "qtLogEnable");
    registryListenKey(m_switchKey, this, chMsgOp(&qtLogControl::onLogSwitchMessage));
    m_redirectEnabled = m_switchKey.GetIntValue(1) > 0;
    applyRedirect(m_redirectEnabled);
}

int qtLogControl::onLogSwitchMessage(msgObject &)
{
    if ((m_switchKey.GetIntValue(1) > 0) == m_redirectEnabled)
        return 0;
    m_redirectEnabled = m_switchKey.GetIntValue(1) > 0;
    applyRedirect(m_redirectEnabled);
    return 1;
}

void qtLogControl::qtLogOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray text = message.toLocal8Bit();
    const char *file = context.file != nullptr ? context.file : "";
    const char *function = context.function != nullptr ? context.function : "";
    const unsigned line = static_cast<unsigned>(context.line);
    switch (type) {
    case QtDebugMsg:
        etlModuleTrace(7, "D:qtLogOutput", "%s (%s:%u, %s)", text.constData(), file, line, function);
        return;
    case QtWarningMsg:
        etlModuleTrace(4, "W:qtLogOutput", "Warning: %s (%s:%u, %s)", text.constData(), file, line, function);
        return;
    case QtCriticalMsg:
        etlModuleTrace(4, "W:qtLogOutput", "Critical: %s (%s:%u, %s)", text.constData(), file, line,
                       function);
        return;
    case QtFatalMsg:
        etlModuleTrace(3, "E:qtLogOutput", "%s (%s:%u, %s)\n", text.constData(), file, line, function);
        abort();
    case QtInfoMsg:
        etlModuleTrace(6, "I:qtLogOutput", "%s (%s:%u, %s)", text.constData(), file, line, function);
        return;
    }
}
