#include "TarnDesktopApp.h"

int main(int argc, char *argv[])
{
    TarnDesktopApp app(argc, argv);
    return app.run();
}
