#pragma once

#include <QList>
#include <QString>

class MainWindow;
class QMessageBox;
class QWidget;

// Brings the modules up and down in the program's order around one main window.
class ModuleTestSupport
{
public:
    static MainWindow *bringUp();
    static void tearDown();
    // The message boxes the message-box module has open now.
    static QList<QMessageBox *> openMessageBoxes();
    static void closeMessageBoxes();
    // Writes a fake USB device folder below root.
    static void addUsbDevice(const QString &root, const QString &name, const QByteArray &vendor,
                             const QByteArray &product, const QByteArray &manufacturer = QByteArray(),
                             const QByteArray &productName = QByteArray());
};
