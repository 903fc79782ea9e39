// The real program on a private X display: its main window comes up at a usable size and shows more
// than a flat colour. The picture stays in the build folder for a look.

#include "ProgramRun.h"
#include "Wait.h"
#include "XDesktop.h"

#include <QFile>
#include <QImage>
#include <QSet>
#include <QtTest>

namespace {

int colourCount(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            colours.insert(image.pixel(x, y));
        }
    }
    return colours.size();
}

} // namespace

class MainWindowScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void mainWindowShowsItsContent()
    {
        const QString root = qEnvironmentVariable("TARN_TEST_ROOT");
        QVERIFY2(QFile::exists(root + "/tarn-desktop"), qPrintable("no program in " + root));
        XDesktop desktop(XDesktop::XEmbedTrayHost, QSize(1280, 800));
        QVERIFY2(desktop.start(), qPrintable(desktop.error()));
        ProgramRun run(root, desktop.display());
        QVERIFY(run.isValid());
        QVERIFY(run.start({}, QString()));

        QString window;
        QVERIFY2(Wait::until(
                     [&] {
                         window = desktop.windows({"--onlyvisible", "--name", "^Corvane Connect$"}).value(0);
                         return !window.isEmpty();
                     },
                     60000),
                 "the main window did not appear");
        // The first frames may still be blank: wait for the content rather than for a while.
        QImage picture;
        const bool drawn = Wait::until(
            [&] {
                picture = QImage::fromData(desktop.run("import", {"-window", window, "png:-"}), "PNG");
                return picture.width() >= 720 && picture.height() >= 480 && colourCount(picture) > 50;
            },
            30000);
        picture.save(QStringLiteral(TARN_SCREENSHOT));
        QVERIFY2(drawn, qPrintable(QStringLiteral("the window looks empty: %1x%2, %3 colours")
                                       .arg(picture.width())
                                       .arg(picture.height())
                                       .arg(colourCount(picture))));
    }
};

QTEST_GUILESS_MAIN(MainWindowScreenTest)
#include "MainWindowScreenTest.moc"
