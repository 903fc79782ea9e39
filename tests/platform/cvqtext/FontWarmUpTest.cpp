// The font database read on a thread of its own while the GUI thread goes on, in a process whose GUI
// thread has not touched a font before.
#include "cvFontWarmUp.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QtTest>

class FontWarmUpTest : public QObject
{
    Q_OBJECT

private slots:
    void textMeasuredDuringTheReadIsMeasuredAsAfterIt();
    void aSecondStartReadsNothingMore();
};

void FontWarmUpTest::textMeasuredDuringTheReadIsMeasuredAsAfterIt()
{
    QVERIFY(!cvFontWarmUp::done());
    cvFontWarmUp::start();
    // At once, while the reader most likely still holds the database: the GUI thread waits for it.
    QFont title;
    title.setPixelSize(22);
    title.setWeight(QFont::DemiBold);
    const int during = QFontMetrics(title).horizontalAdvance(QStringLiteral("USB devices"));
    const QStringList familiesDuring = QFontDatabase().families();
    cvFontWarmUp::finish();
    QVERIFY(cvFontWarmUp::done());
    QVERIFY(during > 0);
    QCOMPARE(QFontMetrics(title).horizontalAdvance(QStringLiteral("USB devices")), during);
    QVERIFY(!familiesDuring.isEmpty());
    QCOMPARE(QFontDatabase().families(), familiesDuring);
}

void FontWarmUpTest::aSecondStartReadsNothingMore()
{
    cvFontWarmUp::start();
    cvFontWarmUp::finish();
    cvFontWarmUp::finish();
    QVERIFY(cvFontWarmUp::done());
}

QTEST_MAIN(FontWarmUpTest)
#include "FontWarmUpTest.moc"
