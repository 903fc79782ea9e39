#pragma once

#include <QObject>
#include <QTimer>

#include <random>

// Random-test mode: now and then triggers a random entry of the main window's menus, so long runs
// wander through every page. Entries marked cvRandomSafe=false (quitting) are never chosen.
class RandomOperator : public QObject
{
    Q_OBJECT
public:
    explicit RandomOperator(int intervalMs, QObject *parent = nullptr);

    // One random operation now; false when no main window or entry was there to use.
    bool pokeOnce();
    int operations() const { return m_operations; }

private:
    QTimer m_timer;
    std::mt19937 m_random;
    int m_operations = 0;
};
