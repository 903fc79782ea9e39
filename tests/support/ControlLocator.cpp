#include "ControlLocator.h"

#include "Wait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

ControlLocator::ControlLocator(const QString &outputFile) : m_output(outputFile) {}

QRect ControlLocator::locate(const QString &name, int ms, QString *text)
{
    QElapsedTimer clock;
    clock.start();
    do {
        const QByteArray serial = QByteArray::number(++m_serial);
        QFile commands(m_output + QStringLiteral(".in"));
        if (!commands.open(QIODevice::WriteOnly | QIODevice::Append) ||
            commands.write("locate " + serial + ' ' + name.toUtf8() + '\n') < 0) {
            return QRect();
        }
        commands.close();
        const QRegularExpression answer(
            QStringLiteral("^(at %1 (-?\\d+) (-?\\d+) (\\d+) (\\d+) ?(.*)|missing %1)$")
                .arg(QString::fromLatin1(serial)),
            QRegularExpression::MultilineOption);
        // The program answers each command within a turn of its event loop; only a hung one takes long.
        QRegularExpressionMatch match;
        const bool answered = Wait::until(
            [&] {
                match = answer.match(QString::fromUtf8(Wait::readFile(m_output)));
                return match.hasMatch();
            },
            int(qMax<qint64>(10000, ms - clock.elapsed())));
        if (answered && match.captured(1).startsWith(QLatin1String("at "))) {
            if (text) {
                *text = match.captured(6);
            }
            return QRect(match.captured(2).toInt(), match.captured(3).toInt(), match.captured(4).toInt(),
                         match.captured(5).toInt());
        }
        if (!answered) {
            break;
        }
    } while (clock.elapsed() < ms);
    return QRect();
}
