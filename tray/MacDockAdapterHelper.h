#pragma once

#include <QObject>

// Adapter for a dock click; nothing creates it on this platform.
class MacDockAdapterHelper : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void dockClickedSignal();
};
