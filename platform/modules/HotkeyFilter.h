#pragma once

#include <QKeySequence>
#include <QObject>

// Application-wide key: Ctrl+Shift+T brings the main window forward from any window of the
// program.
class HotkeyFilter : public QObject
{
    Q_OBJECT
public:
    explicit HotkeyFilter(QObject *parent = nullptr);

    static QKeySequence sequence();
    // The top-level widget named "MainWindow", restored and raised; false when there is none.
    static bool bringMainWindowForward();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
