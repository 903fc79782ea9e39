#pragma once

// Reading the font database (fontconfig's configuration files and the list of installed fonts) is
// the largest single piece of work before the first window can measure text, and it needs nothing
// the start-up does meanwhile. start() reads it on a thread of its own; the first text measured on
// the GUI thread waits for that read instead of doing it again, as the database serialises itself.
class cvFontWarmUp
{
public:
    // Once per process, with a QGuiApplication and its platform in place; later calls do nothing.
    static void start();
    // Waits for the read; the application object's teardown does this before the platform goes.
    static void finish();
    // The read ran, and finished.
    static bool done();
};
