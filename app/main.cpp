#include "SessionEndWatcher.h"
#include "TarnDesktopApp.h"

int main(int argc, char *argv[])
{
    // Before anything can write: a launcher that closed our output must not end the program.
    SessionEndWatcher::ignoreBrokenPipe();
    TarnDesktopApp app(argc, argv);
    return app.run();
}
