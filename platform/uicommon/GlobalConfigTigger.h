#pragma once

// Listens to global configuration changes during the event loop.
class GlobalConfigTigger
{
public:
    static void listen();
    static void unlisten();
    static bool isListening();
};
