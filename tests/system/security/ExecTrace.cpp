#include "ExecTrace.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

int ExecTrace::run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
                   int ms)
{
    m_calls.clear();
    const QString out = m_dir.filePath(QStringLiteral("execve.trace"));
    QFile::remove(out);
    QProcess strace;
    strace.setProcessEnvironment(env);
    strace.start(QStringLiteral("strace"),
                 QStringList{"-f", "-qq", "-s", "1024", "-e", "trace=execve", "-o", out, program} +
                     arguments);
    if (!strace.waitForStarted(10000)) {
        m_error = QStringLiteral("strace does not start: ") + strace.errorString();
        return -1000;
    }
    int code = -1000;
    if (!strace.waitForFinished(ms)) {
        strace.kill();
        strace.waitForFinished(5000);
        m_error = QStringLiteral("the traced program did not end");
    } else {
        code = strace.exitCode();
    }
    QFile file(out);
    if (file.open(QIODevice::ReadOnly)) {
        m_text = file.readAll();
    }
    m_calls = parse(m_text);
    if (m_calls.isEmpty() && m_error.isEmpty()) {
        m_error = QStringLiteral("strace recorded nothing: ") +
                  QString::fromLocal8Bit(strace.readAllStandardError());
    }
    return code;
}

QList<ExecTrace::Call> ExecTrace::parse(const QByteArray &text)
{
    // "<pid> execve("<path>", ["<arg0>", "<arg1>"], 0x... /* n vars */) = 0"
    static const QRegularExpression call(
        QStringLiteral("^(\\d+)\\s+execve\\(\"((?:[^\"\\\\]|\\\\.)*)\", \\["));
    static const QRegularExpression quoted(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\"(\\.\\.\\.)?(, |\\])"));
    QList<Call> calls;
    for (const QByteArray &line : text.split('\n')) {
        const QString lineText = QString::fromUtf8(line);
        const QRegularExpressionMatch match = call.match(lineText);
        if (!match.hasMatch()) {
            continue;
        }
        Call entry;
        entry.pid = match.captured(1).toLongLong();
        entry.path = match.captured(2);
        // Arguments follow one another up to the closing bracket; a bracket inside one is not the end.
        int at = match.capturedEnd(0);
        for (;;) {
            const QRegularExpressionMatch argument = quoted.match(
                lineText, at, QRegularExpression::NormalMatch, QRegularExpression::AnchoredMatchOption);
            if (!argument.hasMatch()) {
                break;
            }
            entry.arguments << argument.captured(1);
            at = argument.capturedEnd(0);
            if (argument.captured(3) == QLatin1String("]")) {
                break;
            }
        }
        calls << entry;
    }
    return calls;
}
