#pragma once

#include "winapi.h"

#include <QApplication>

#include <cstdint>

// The Qt application object: times every dispatch and announces F10 presses.
class TarnApplication : public QApplication
{
    Q_OBJECT
public:
    TarnApplication(int &argc, char **argv);
    ~TarnApplication() override;

    bool notify(QObject *receiver, QEvent *event) override;

    // Milliseconds between two readings of the wrapping 32-bit tick counter.
    static uint32_t tickSpan(DWORD start, DWORD end);

    // The clock that times dispatches (GetTickCount unless replaced); returns the previous one.
    // Null restores GetTickCount.
    using TickSource = DWORD (*)();
    static TickSource setTickSource(TickSource source);

signals:
    void signalReloadTheme();
};
