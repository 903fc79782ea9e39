// tarn-launcher-helper <name> [seconds]
//
// Registers itself under <name> with the launcher, prints "startApp <result>" on one line, shows a small
// window titled <name> when an X display is set, and stays until killed or the seconds pass.
// With TARN_HELPER_WAIT_STDIN=1 it waits for one line on standard input before registering, so a test
// can release many helpers at the same moment.

#include "wAppLauncher.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3 || argv[1][0] == '\0') {
        fprintf(stderr, "usage: %s <name> [seconds]\n", argv[0]);
        return 2;
    }
    const std::string name = argv[1];
    int seconds = -1;
    if (argc == 3) {
        char *end = nullptr;
        seconds = static_cast<int>(strtol(argv[2], &end, 10));
        if (*end || seconds < 0) {
            fprintf(stderr, "%s: bad seconds [%s]\n", argv[0], argv[2]);
            return 2;
        }
    }

    const char *display = getenv("DISPLAY");
    const bool gui = display && *display;
    std::unique_ptr<QCoreApplication> app;
    if (gui)
        app.reset(new QApplication(argc, argv));
    else
        app.reset(new QCoreApplication(argc, argv));

    const char *wait = getenv("TARN_HELPER_WAIT_STDIN");
    if (wait && strcmp(wait, "1") == 0) {
        char line[16];
        if (!fgets(line, sizeof line, stdin))
            return 3;
    }

    const int result = wAppLauncher::getInstance()->startApp(name);
    printf("startApp %d\n", result);
    fflush(stdout);

    std::unique_ptr<QLabel> window;
    if (gui) {
        window.reset(new QLabel(QString::fromStdString(name)));
        window->setWindowTitle(QString::fromStdString(name));
        window->resize(200, 80);
        window->show();
    }
    if (seconds >= 0)
        QTimer::singleShot(seconds * 1000, app.get(), &QCoreApplication::quit);
    return app->exec();
}
