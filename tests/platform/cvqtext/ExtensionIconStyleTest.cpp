// Runs in a process of its own: whether an image format plugin has been loaded is a property of the
// whole process.
#include "cvExtensionIconStyle.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QMenuBar>
#include <QStyleFactory>
#include <QToolButton>
#include <QtTest>

namespace {
// Image format plugins mapped into this process.
QStringList loadedImagePlugins()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(maps unreadable)")};
    QStringList plugins;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        if (line.contains("/imageformats/")) {
            const QString path = QString::fromLocal8Bit(line.mid(line.indexOf('/')));
            if (!plugins.contains(path))
                plugins << path;
        }
    }
    return plugins;
}
} // namespace

class ExtensionIconStyleTest : public QObject
{
    Q_OBJECT

private slots:
    void menuBarIsMadeWithoutImagePlugins();
    void otherIconsAndDrawingComeFromTheBase();
};

void ExtensionIconStyleTest::menuBarIsMadeWithoutImagePlugins()
{
    QVERIFY2(loadedImagePlugins().isEmpty(), qPrintable(loadedImagePlugins().join(' ')));
    QApplication::setStyle(new cvExtensionIconStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    // The program sets its theme's sheet over the style; the sheet style asks the proxy for the icon.
    qApp->setStyleSheet(QStringLiteral("QMenuBar { background: #ffffff; }"));
    QMainWindow window;
    window.menuBar()->addMenu(QStringLiteral("File"));
    window.show();
    QCoreApplication::processEvents();

    auto *extension = window.menuBar()->findChild<QToolButton *>(QStringLiteral("qt_menubar_ext_button"));
    QVERIFY(extension);
    QVERIFY(!extension->icon().isNull());
    QVERIFY(!extension->icon().pixmap(16, 16).isNull());
    QVERIFY2(loadedImagePlugins().isEmpty(), qPrintable(loadedImagePlugins().join(' ')));
    QVERIFY(!QApplication::style()->standardIcon(QStyle::SP_ToolBarVerticalExtensionButton).isNull());
    QVERIFY2(loadedImagePlugins().isEmpty(), qPrintable(loadedImagePlugins().join(' ')));
    qApp->setStyleSheet(QString());
}

void ExtensionIconStyleTest::otherIconsAndDrawingComeFromTheBase()
{
    auto *style = new cvExtensionIconStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setStyle(style);
    QCOMPARE(style->baseStyle()->objectName().toLower(), QStringLiteral("fusion"));
    QVERIFY(!style->standardIcon(QStyle::SP_TitleBarCloseButton).isNull());
    QCOMPARE(style->pixelMetric(QStyle::PM_SmallIconSize),
             style->baseStyle()->pixelMetric(QStyle::PM_SmallIconSize));
}

QTEST_MAIN(ExtensionIconStyleTest)
#include "ExtensionIconStyleTest.moc"
