#include "ETLLib.h"
#include "cvActionText.h"
#include "cvCheckBox.h"
#include "cvLabel.h"
#include "cvLineEdit.h"
#include "cvPlainTextEdit.h"
#include "cvPushButton.h"
#include "cvRadioButton.h"
#include "cvRichEditor.h"
#include "cvTextEdit.h"
#include "cvTextSize.h"
#include "cvThemeMan.h"
#include "cvWidget.h"
#include "languagehelper.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {
void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

class CountingCheckBox : public cvCheckBox
{
public:
    using cvCheckBox::cvCheckBox;
    void dealLangConfigChanged() override
    {
        ++calls;
        cvCheckBox::dealLangConfigChanged();
    }
    int calls = 0;
};
} // namespace

class CvQtExtTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void themeReadsQssFilesInNameOrder();
    void themeMissingFolderGivesEmptyText();
    void themeSkipsWhatCannotBeRead();
    void themeRecursiveReadsSubfolders();
    void themeRegistersByName();

    void widgetsAreKnownByClassName();
    void textWidgetsFollowTheLanguage();
    void placeholdersFollowTheLanguage();
    void labelArgumentsSurviveASwitch();
    void textWithoutSourceIsLeftAlone();
    void widgetToolTipAndSignal();
    void checkBoxOverrideIsCalledThroughBase();

    void menusFollowTheLanguage();
    void actionsGoBeforeTheTrailingGroup();

    void textSizeIsSetOnce();
};

void CvQtExtTest::initTestCase()
{
    const QByteArray root = qgetenv("TARN_TEST_ROOT");
    QVERIFY2(!root.isEmpty(), "TARN_TEST_ROOT names the build's installation root");
    etlOverrideAppRootPath(root.toStdString());
    QVERIFY2(lang_SwitchTo("German"), "the German catalogue is built into the installation root");
    QVERIFY(lang_SwitchTo("English"));
}

void CvQtExtTest::cleanup()
{
    lang_SwitchTo("English");
}

void CvQtExtTest::themeReadsQssFilesInNameOrder()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("20-b.qss"), "B {}");
    writeFile(dir.filePath("00-a.qss"), "A {}\n");
    writeFile(dir.filePath("10-c.qss"), "C {}");
    writeFile(dir.filePath("notes.txt"), "not a sheet");
    writeFile(dir.filePath("15-old.qss.bak"), "OLD {}");
    writeFile(dir.filePath("16-noqss"), "NO {}");
    writeFile(dir.filePath("sub/05-nested.qss"), "N {}");
    // The suffix is told apart without regard to case, as a name filter would.
    writeFile(dir.filePath("30-d.QSS"), "D {}");

    cvThemeMan theme;
    const QString sheet = theme.ReadAllQssFile(dir.path(), false);
    QCOMPARE(sheet, QStringLiteral("A {}\nC {}\nB {}\nD {}\n"));
}

void CvQtExtTest::themeMissingFolderGivesEmptyText()
{
    QTemporaryDir dir;
    cvThemeMan theme;
    QVERIFY(theme.ReadAllQssFile(dir.filePath("no-such-folder"), false).isEmpty());
    QVERIFY(theme.ReadAllQssFile(QString(), false).isEmpty());
    QVERIFY(theme.ReadAllQssFile(dir.path(), false).isEmpty());
}

void CvQtExtTest::themeSkipsWhatCannotBeRead()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("00-a.qss"), "A {}");
    // A dangling link and a folder named like a sheet are not readable sheets.
    QVERIFY(QFile::link(dir.filePath("missing-target.qss"), dir.filePath("05-dangling.qss")));
    QVERIFY(QDir().mkpath(dir.filePath("07-folder.qss")));
    writeFile(dir.filePath("10-b.qss"), "B {}");

    cvThemeMan theme;
    QCOMPARE(theme.ReadAllQssFile(dir.path(), false), QStringLiteral("A {}\nB {}\n"));
}

void CvQtExtTest::themeRecursiveReadsSubfolders()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("b.qss"), "B {}");
    writeFile(dir.filePath("a/z.qss"), "AZ {}");
    cvThemeMan theme;
    QCOMPARE(theme.ReadAllQssFile(dir.path(), true), QStringLiteral("AZ {}\nB {}\n"));
    QCOMPARE(theme.ReadAllQssFile(dir.path(), false), QStringLiteral("B {}\n"));
}

void CvQtExtTest::themeRegistersByName()
{
    cvThemeMan theme;
    QVERIFY(theme.GetTheme("1").isEmpty());
    QVERIFY(theme.AddTheme("QWidget { color: red; }", "1"));
    QVERIFY(theme.AddTheme("QWidget { color: blue; }", "1.5"));
    QCOMPARE(theme.GetTheme("1"), QStringLiteral("QWidget { color: red; }"));
    QVERIFY(theme.AddTheme("QWidget { color: green; }", "1"));
    QCOMPARE(theme.GetTheme("1"), QStringLiteral("QWidget { color: green; }"));
    QCOMPARE(theme.GetTheme("1.5"), QStringLiteral("QWidget { color: blue; }"));
    QVERIFY(theme.GetTheme("2").isEmpty());
    QVERIFY(!theme.AddTheme("x", QString()));

    // Themes belong to their manager.
    cvThemeMan other;
    QVERIFY(other.GetTheme("1").isEmpty());
}

void CvQtExtTest::widgetsAreKnownByClassName()
{
    cvWidget widget;
    cvLineEdit lineEdit;
    cvLabel label;
    cvRichEditor rich;
    cvTextEdit textEdit;
    cvPlainTextEdit plain;
    cvPushButton push;
    cvCheckBox check;
    cvRadioButton radio;
    QVERIFY(widget.inherits("cvWidget"));
    QVERIFY(lineEdit.inherits("cvLineEdit") && lineEdit.inherits("QLineEdit"));
    QVERIFY(label.inherits("cvLabel") && label.inherits("QLabel"));
    QVERIFY(rich.inherits("cvRichEditor") && !rich.inherits("cvTextEdit"));
    QVERIFY(textEdit.inherits("cvTextEdit") && textEdit.inherits("QTextEdit"));
    QVERIFY(plain.inherits("cvPlainTextEdit"));
    QVERIFY(push.inherits("cvPushButton"));
    QVERIFY(check.inherits("cvCheckBox") && !check.inherits("cvPushButton"));
    QVERIFY(radio.inherits("cvRadioButton"));
}

void CvQtExtTest::textWidgetsFollowTheLanguage()
{
    cvLabel label(QStringLiteral("Refresh"));
    cvPushButton push(QStringLiteral("Save"));
    cvCheckBox check(QStringLiteral("Answer incoming calls automatically"));
    cvRadioButton radio(QStringLiteral("Send"));
    QCOMPARE(label.text(), QStringLiteral("Refresh"));
    QCOMPARE(label.sourceText(), QStringLiteral("Refresh"));

    QVERIFY(lang_SwitchTo("German"));
    // Nothing changes until the widgets are told.
    QCOMPARE(push.text(), QStringLiteral("Save"));
    label.dealLangConfigChanged();
    push.dealLangConfigChanged();
    check.dealLangConfigChanged();
    radio.dealLangConfigChanged();
    QCOMPARE(label.text(), QStringLiteral("Aktualisieren"));
    QCOMPARE(push.text(), QStringLiteral("Speichern"));
    QCOMPARE(check.text(), QStringLiteral("Eingehende Anrufe automatisch annehmen"));
    QCOMPARE(radio.text(), QStringLiteral("Senden"));
    QCOMPARE(label.sourceText(), QStringLiteral("Refresh"));

    // A new source is shown in the language in use.
    push.setSourceText(QStringLiteral("Apply"));
    QCOMPARE(push.text(), QStringLiteral("Übernehmen"));

    QVERIFY(lang_SwitchTo("French"));
    label.dealLangConfigChanged();
    push.dealLangConfigChanged();
    QCOMPARE(label.text(), QStringLiteral("Actualiser"));
    QCOMPARE(push.text(), QStringLiteral("Appliquer"));

    QVERIFY(lang_SwitchTo("English"));
    label.dealLangConfigChanged();
    push.dealLangConfigChanged();
    QCOMPARE(label.text(), QStringLiteral("Refresh"));
    QCOMPARE(push.text(), QStringLiteral("Apply"));

    // A text no catalogue knows stays English.
    QVERIFY(lang_SwitchTo("German"));
    cvLabel unknown(QStringLiteral("Not in any catalogue"));
    QCOMPARE(unknown.text(), QStringLiteral("Not in any catalogue"));
}

void CvQtExtTest::placeholdersFollowTheLanguage()
{
    cvLineEdit lineEdit;
    cvRichEditor rich;
    cvTextEdit textEdit;
    cvPlainTextEdit plain;
    const QString source = QStringLiteral("Describe your problem or suggestion");
    lineEdit.setPlaceholderSource(source);
    rich.setPlaceholderSource(source);
    textEdit.setPlaceholderSource(source);
    plain.setPlaceholderSource(source);
    lineEdit.setText(QStringLiteral("typed by the user"));
    plain.setPlainText(QStringLiteral("typed by the user"));

    QVERIFY(lang_SwitchTo("German"));
    lineEdit.dealLangConfigChanged();
    rich.dealLangConfigChanged();
    textEdit.ResetPlaceHolderText();
    plain.ResetPlaceHolderText();
    const QString german = QStringLiteral("Beschreiben Sie Ihr Problem oder Ihren Vorschlag");
    QCOMPARE(lineEdit.placeholderText(), german);
    QCOMPARE(rich.placeholderText(), german);
    QCOMPARE(textEdit.placeholderText(), german);
    QCOMPARE(plain.placeholderText(), german);
    // What the user typed is never touched.
    QCOMPARE(lineEdit.text(), QStringLiteral("typed by the user"));
    QCOMPARE(plain.toPlainText(), QStringLiteral("typed by the user"));
}

void CvQtExtTest::labelArgumentsSurviveASwitch()
{
    cvLabel label;
    label.setSourceText(QStringLiteral("Connected devices: %1"), {QStringLiteral("3")});
    QCOMPARE(label.text(), QStringLiteral("Connected devices: 3"));
    QVERIFY(lang_SwitchTo("ChineseSimplified"));
    label.dealLangConfigChanged();
    QCOMPARE(label.text(), QString::fromUtf8("已连接的设备：3"));

    // An argument that looks like a placeholder is shown as it is.
    label.setSourceText(QStringLiteral("Version %1"), {QStringLiteral("%2")});
    QCOMPARE(label.text(), QString::fromUtf8("版本 %2"));

    label.setSourceText(QString());
    QVERIFY(label.text().isEmpty());
    label.dealLangConfigChanged();
    QVERIFY(label.text().isEmpty());
}

void CvQtExtTest::textWithoutSourceIsLeftAlone()
{
    cvLabel label;
    label.setText(QStringLiteral("usb1"));
    cvPushButton push;
    push.setText(QStringLiteral("data"));
    QVERIFY(lang_SwitchTo("German"));
    label.dealLangConfigChanged();
    push.dealLangConfigChanged();
    QCOMPARE(label.text(), QStringLiteral("usb1"));
    QCOMPARE(push.text(), QStringLiteral("data"));
}

void CvQtExtTest::widgetToolTipAndSignal()
{
    cvWidget widget;
    widget.setSourceToolTip(QStringLiteral("Refresh"));
    QCOMPARE(widget.toolTip(), QStringLiteral("Refresh"));
    QSignalSpy spy(&widget, &cvWidget::langConfigChanged);
    QVERIFY(lang_SwitchTo("German"));
    widget.dealLangConfigChanged();
    QCOMPARE(widget.toolTip(), QStringLiteral("Aktualisieren"));
    QCOMPARE(spy.count(), 1);
}

void CvQtExtTest::checkBoxOverrideIsCalledThroughBase()
{
    CountingCheckBox derived(QStringLiteral("Save"));
    cvCheckBox *base = &derived;
    QVERIFY(lang_SwitchTo("German"));
    base->dealLangConfigChanged();
    QCOMPARE(derived.calls, 1);
    QCOMPARE(derived.text(), QStringLiteral("Speichern"));
}

void CvQtExtTest::menusFollowTheLanguage()
{
    QMenuBar bar;
    QMenu *file = bar.addMenu(QString());
    cvSetSourceTitle(file, QStringLiteral("File"));
    QAction *quit = cvAddSourceAction(file, QStringLiteral("Quit"));
    QMenu *sub = file->addMenu(QString());
    cvSetSourceTitle(sub, QStringLiteral("Help"));
    QAction *about = cvAddSourceAction(sub, QStringLiteral("About"));
    QAction *plain = file->addAction(QStringLiteral("kept as is"));
    QCOMPARE(file->title(), QStringLiteral("File"));

    QVERIFY(lang_SwitchTo("German"));
    cvRetranslateMenuBar(&bar);
    QCOMPARE(file->title(), QStringLiteral("Datei"));
    QCOMPARE(quit->text(), QStringLiteral("Beenden"));
    QCOMPARE(sub->title(), QStringLiteral("Hilfe"));
    QCOMPARE(about->text(), QStringLiteral("Über"));
    QCOMPARE(plain->text(), QStringLiteral("kept as is"));
    QCOMPARE(cvSourceOf(quit), QStringLiteral("Quit"));

    cvRetranslateMenuBar(nullptr);
    cvRetranslateMenu(nullptr);
    QVERIFY(!cvAddSourceAction(nullptr, QStringLiteral("x")));
}

void CvQtExtTest::actionsGoBeforeTheTrailingGroup()
{
    QMenu menu;
    QAction *first = cvAddSourceAction(&menu, QStringLiteral("Devices"));
    menu.addSeparator();
    QAction *quit = cvAddSourceAction(&menu, QStringLiteral("Quit"));
    cvMarkKeepLast(quit);
    QAction *added = cvAddSourceAction(&menu, QStringLiteral("Feedback"));
    QAction *second = cvAddSourceAction(&menu, QStringLiteral("Save"));

    const QList<QAction *> actions = menu.actions();
    QCOMPARE(actions.size(), 5);
    QCOMPARE(actions.at(0), first);
    QCOMPARE(actions.at(1), added);
    QCOMPARE(actions.at(2), second);
    QVERIFY(actions.at(3)->isSeparator());
    QCOMPARE(actions.at(4), quit);
}

void CvQtExtTest::textSizeIsSetOnce()
{
    InitTextSizeCommon();
    QCOMPARE(QApplication::font().pointSize(), cvTextSizeNormal());
    QVERIFY(cvTextSizeSmall() < cvTextSizeNormal() && cvTextSizeNormal() < cvTextSizeTitle());
    QFont changed = QApplication::font();
    changed.setPointSize(cvTextSizeNormal() + 5);
    QApplication::setFont(changed);
    InitTextSizeCommon();
    QCOMPARE(QApplication::font().pointSize(), cvTextSizeNormal() + 5);
}

QTEST_MAIN(CvQtExtTest)
#include "CvQtextTest.moc"
