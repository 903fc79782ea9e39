#include "UsbDeviceScanner.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {
// Attribute files are a line of text; anything longer is not trusted.
const qint64 kMaxAttribute = 256;

QString readAttribute(const QString &folder, const char *name)
{
    QFile file(folder + QLatin1Char('/') + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString text = QString::fromUtf8(file.read(kMaxAttribute)).trimmed();
    // Device strings come from the device itself: keep them printable and on one line.
    for (QChar &c : text) {
        if (!c.isPrint())
            c = QLatin1Char(' ');
    }
    return text.simplified();
}

// Four hexadecimal digits. Checked by hand: a regular expression would bring its compiler into every
// start of the program.
bool isHexId(const QString &id)
{
    if (id.size() != 4)
        return false;
    return std::all_of(id.begin(), id.end(), [](QChar c) {
        const ushort u = c.unicode();
        return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
    });
}
} // namespace

QString UsbDeviceScanner::defaultRoot()
{
    const QByteArray overridden = qgetenv("TARN_USB_SYSFS");
    if (!overridden.isEmpty())
        return QString::fromLocal8Bit(overridden);
    return QStringLiteral("/sys/bus/usb/devices");
}

QList<UsbDeviceScanner::Device> UsbDeviceScanner::scan(const QString &root)
{
    QList<Device> devices;
    QDir dir(root);
    if (root.isEmpty() || !dir.exists())
        return devices;
    QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::sort(names.begin(), names.end());
    for (const QString &name : names) {
        const QString folder = dir.filePath(name);
        Device device;
        device.busPath = name;
        device.vendorId = readAttribute(folder, "idVendor").toLower();
        device.productId = readAttribute(folder, "idProduct").toLower();
        if (!isHexId(device.vendorId) || !isHexId(device.productId))
            continue;
        device.manufacturer = readAttribute(folder, "manufacturer");
        device.product = readAttribute(folder, "product");
        devices.append(device);
    }
    return devices;
}
