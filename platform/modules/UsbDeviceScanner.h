#pragma once

#include <QList>
#include <QString>

// Reads the USB devices the kernel lists (one folder per device with idVendor and idProduct).
// TARN_USB_SYSFS stands another folder in for /sys/bus/usb/devices.
class UsbDeviceScanner
{
public:
    struct Device
    {
        QString busPath;
        QString vendorId;
        QString productId;
        QString manufacturer;
        QString product;
    };

    static QString defaultRoot();
    // Devices sorted by their folder name; interfaces and unreadable entries are left out.
    static QList<Device> scan(const QString &root = defaultRoot());
};
