#pragma once

// The message adapter singleton: exists from the bridge's attach to its release.
class ETLMessageAdapter
{
public:
    static ETLMessageAdapter &instance();
    static void releaseInstance();
    static bool exists();

    ETLMessageAdapter(const ETLMessageAdapter &) = delete;
    ETLMessageAdapter &operator=(const ETLMessageAdapter &) = delete;

private:
    ETLMessageAdapter();
    ~ETLMessageAdapter();
};
