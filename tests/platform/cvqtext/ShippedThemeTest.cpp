#include "ResourceGenerator.h"
#include "cvThemeMan.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtEndian>
#include <QtTest>

namespace {
QStringList g_styleWarnings;

void captureWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_styleWarnings << message;
}

QString resourceRoot()
{
    return qEnvironmentVariable("TARN_TEST_ROOT") + QStringLiteral("/resource");
}

// The first "property: Npx" of the sheet.
int firstPixels(const QString &sheet, const QString &property)
{
    const QRegularExpression re(property + QStringLiteral(":\\s*(\\d+)px"));
    const QRegularExpressionMatch match = re.match(sheet);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}
} // namespace

// The theme, drawables and icon as the build lays them out for the program.
class ShippedThemeTest : public QObject
{
    Q_OBJECT
private slots:
    void templateSizesScale();
    void everyScaleHasACompleteTheme_data();
    void everyScaleHasACompleteTheme();
    void sheetsParseAndApply();
    void drawablesHaveTheirScaledSize();
    void iconHoldsEightSizesIn32BitColour();
    void desktopEntryNamesTheProgramAndIcon();
};

void ShippedThemeTest::templateSizesScale()
{
    const QString text = QStringLiteral("a { padding: {{6}} {{13}}; border: {{1}} solid; margin: {{0}}; }");
    QCOMPARE(ResourceGenerator::scaleSheet(text, 1.0),
             QStringLiteral("a { padding: 6px 13px; border: 1px solid; margin: 0px; }"));
    QCOMPARE(ResourceGenerator::scaleSheet(text, 1.25),
             QStringLiteral("a { padding: 8px 16px; border: 1px solid; margin: 0px; }"));
    QCOMPARE(ResourceGenerator::scaleSheet(text, 2.0),
             QStringLiteral("a { padding: 12px 26px; border: 2px solid; margin: 0px; }"));
    QCOMPARE(ResourceGenerator::scaleSheet(QStringLiteral("{{x}} {{}} {{7"), 2.0),
             QStringLiteral("{{x}} {{}} {{7"));
}

void ShippedThemeTest::everyScaleHasACompleteTheme_data()
{
    QTest::addColumn<QString>("scale");
    for (const QString &scale : ResourceGenerator::scales())
        QTest::newRow(qPrintable(scale)) << scale;
}

void ShippedThemeTest::everyScaleHasACompleteTheme()
{
    QFETCH(QString, scale);
    const QString themeDir = resourceRoot() + QStringLiteral("/theme/") + scale;
    const QString drawableDir = resourceRoot() + QStringLiteral("/drawable/") + scale;
    QVERIFY2(QDir(themeDir).entryList({"*.qss"}, QDir::Files).size() >= 4, qPrintable(themeDir));

    cvThemeMan theme;
    const QString sheet = theme.ReadAllQssFile(themeDir, false);
    QVERIFY(!sheet.isEmpty());
    QVERIFY2(!sheet.contains(QStringLiteral("{{")), "a size was left unscaled");
    for (const char *selector : {"QMenu#SystemMenu", "QMenuBar", "QMessageBox", "QPushButton", "QLineEdit",
                                 "QCheckBox::indicator", "QRadioButton::indicator", "QScrollBar", "cvLabel",
                                 "cvPushButton", "QListWidget", "QPlainTextEdit"})
        QVERIFY2(sheet.contains(QLatin1String(selector)), selector);

    // Every image the sheet names is there below the scale's drawable folder.
    static const QRegularExpression url(QStringLiteral("url\\(\"(/[^\"]+)\"\\)"));
    QRegularExpressionMatchIterator it = url.globalMatch(sheet);
    int images = 0;
    while (it.hasNext()) {
        const QString path = drawableDir + it.next().captured(1);
        QVERIFY2(QFile::exists(path), qPrintable(path));
        QVERIFY2(!QImage(path).isNull(), qPrintable(path));
        ++images;
    }
    QVERIFY(images >= 12);
    // References are written so the program's rewrite finds them: none with single quotes or bare.
    QVERIFY(!sheet.contains(QStringLiteral("url('")));
    QVERIFY(!QRegularExpression(QStringLiteral("url\\([^\"]")).match(sheet).hasMatch());

    const double factor = scale.toDouble();
    const QString base = theme.ReadAllQssFile(resourceRoot() + QStringLiteral("/theme/1"), false);
    QCOMPARE(firstPixels(sheet, QStringLiteral("font-size")),
             int(std::lround(firstPixels(base, QStringLiteral("font-size")) * factor)));
}

void ShippedThemeTest::sheetsParseAndApply()
{
    for (const QString &scale : ResourceGenerator::scales()) {
        cvThemeMan theme;
        QString sheet = theme.ReadAllQssFile(resourceRoot() + QStringLiteral("/theme/") + scale, false);
        sheet.replace(QStringLiteral("url(\""),
                      QStringLiteral("url(\"") + resourceRoot() + QStringLiteral("/drawable/") + scale);
        QVERIFY(theme.AddTheme(sheet, scale));

        g_styleWarnings.clear();
        QtMessageHandler previous = qInstallMessageHandler(captureWarnings);
        qApp->setStyleSheet(theme.GetTheme(scale));
        QWidget window;
        QVBoxLayout *layout = new QVBoxLayout(&window);
        layout->addWidget(new QPushButton(QStringLiteral("Button")));
        QCheckBox *check = new QCheckBox(QStringLiteral("Check"));
        check->setChecked(true);
        layout->addWidget(check);
        layout->addWidget(new QRadioButton(QStringLiteral("Radio")));
        layout->addWidget(new QLineEdit(QStringLiteral("Line")));
        QTreeWidget *tree = new QTreeWidget;
        tree->setHeaderLabels({QStringLiteral("Product"), QStringLiteral("ID")});
        new QTreeWidgetItem(tree, {QStringLiteral("Headset"), QStringLiteral("12ab:a05d")});
        layout->addWidget(tree);
        QMenu menu;
        menu.setObjectName(QStringLiteral("SystemMenu"));
        menu.addAction(QStringLiteral("Show"));
        menu.addSeparator();
        menu.addAction(QStringLiteral("Quit"));
        window.resize(400, 400);
        const QImage shot = window.grab().toImage();
        menu.grab();
        qInstallMessageHandler(previous);
        qApp->setStyleSheet(QString());

        QVERIFY2(g_styleWarnings.isEmpty(),
                 qPrintable(scale + QStringLiteral(": ") + g_styleWarnings.join('\n')));
        QVERIFY(!shot.isNull());
        // The checked indicator's blue is drawn: the image was found and used.
        bool accent = false;
        for (int y = 0; y < shot.height() && !accent; ++y) {
            for (int x = 0; x < shot.width() && !accent; ++x) {
                const QColor c = shot.pixelColor(x, y);
                accent = c.blue() > 200 && c.red() < 60 && c.green() > 90 && c.green() < 130;
            }
        }
        QVERIFY2(accent, qPrintable(scale));
    }
}

void ShippedThemeTest::drawablesHaveTheirScaledSize()
{
    const QList<QPair<QString, int>> expected = {{"1", 16}, {"1.25", 20}, {"1.5", 24}, {"2", 32}};
    for (const auto &entry : expected) {
        const QString dir =
            resourceRoot() + QStringLiteral("/drawable/") + entry.first + QStringLiteral("/common/");
        const QImage box(dir + QStringLiteral("checkbox-checked.png"));
        QCOMPARE(box.size(), QSize(entry.second, entry.second));
        QVERIFY(box.hasAlphaChannel());
        QCOMPARE(box.pixelColor(0, 0).alpha(), 0);
        const QImage arrow(dir + QStringLiteral("arrow-down.png"));
        QCOMPARE(arrow.width(), int(std::lround(12 * entry.first.toDouble())));
    }
}

void ShippedThemeTest::iconHoldsEightSizesIn32BitColour()
{
    QFile file(resourceRoot() + QStringLiteral("/drawable/1/common/logo/main.ico"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QVERIFY(data.size() > 6);
    const uchar *bytes = reinterpret_cast<const uchar *>(data.constData());
    QCOMPARE(qFromLittleEndian<quint16>(bytes + 2), quint16(1));
    const int count = qFromLittleEndian<quint16>(bytes + 4);
    QCOMPARE(count, 8);
    QVERIFY(data.size() >= 6 + 16 * count);
    QList<int> sizes;
    for (int i = 0; i < count; ++i) {
        const uchar *entry = bytes + 6 + 16 * i;
        const quint32 length = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        QVERIFY(quint64(offset) + length <= quint64(data.size()));
        QCOMPARE(qFromLittleEndian<quint16>(entry + 6), quint16(32));
        const QByteArray image = data.mid(int(offset), int(length));
        if (image.startsWith("\x89PNG")) {
            const uchar *png = reinterpret_cast<const uchar *>(image.constData());
            sizes << int(qFromBigEndian<quint32>(png + 16));
            QCOMPARE(int(png[24]), 8); // 8 bits per channel
            QCOMPARE(int(png[25]), 6); // with alpha
        } else {
            sizes << (entry[0] ? entry[0] : 256);
            QCOMPARE(qFromLittleEndian<quint16>(reinterpret_cast<const uchar *>(image.constData()) + 14),
                     quint16(32));
        }
    }
    QCOMPARE(sizes, (QList<int>{16, 24, 32, 48, 64, 128, 256, 512}));
}

void ShippedThemeTest::desktopEntryNamesTheProgramAndIcon()
{
    QSettings entry(QStringLiteral(TARN_SOURCE_DIR) + QStringLiteral("/resource/tarn-desktop.desktop"),
                    QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.value("Type").toString(), QStringLiteral("Application"));
    QCOMPARE(entry.value("Exec").toString(), QStringLiteral("tarn-desktop"));
    QCOMPARE(entry.value("Icon").toString(), QStringLiteral("tarn-desktop"));
    QCOMPARE(entry.value("Name").toString(), QStringLiteral("Corvane Connect"));
}

QTEST_MAIN(ShippedThemeTest)
#include "ShippedThemeTest.moc"
