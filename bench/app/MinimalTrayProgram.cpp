// The smallest program of the same kind: an application object, a main window and a tray icon, which
// quits on its first loop turn. The start-up benchmark compares the real program against it.
#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

int main(int argc, char *argv[])
{
    // The benchmark also runs it the way the real program draws: without OpenGL-capable windows.
    if (qEnvironmentVariableIsSet("TARN_MINIMAL_RASTER")) {
        QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    }
    QApplication app(argc, argv);
    QMainWindow window;
    // The size of the program's main window, so both draw and hand the X server as many pixels.
    window.resize(960, 640);
    window.show();
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkGreen);
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setVisible(true);
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
