#pragma once

#include <QApplication>

// The Qt application object: times every dispatch and announces F10 presses.
class TarnApplication : public QApplication
{
    Q_OBJECT
public:
    TarnApplication(int &argc, char **argv);
    ~TarnApplication() override;

    bool notify(QObject *receiver, QEvent *event) override;

signals:
    void signalReloadTheme();
};
