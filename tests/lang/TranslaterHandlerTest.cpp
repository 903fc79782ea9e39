#include "TranslaterHandler.h"

#include "ETLLib.h"
#include "TarnApplication.h"
#include "chThreadLocal.h"
#include "cvCheckBox.h"
#include "cvLabel.h"
#include "cvLineEdit.h"
#include "cvPlainTextEdit.h"
#include "cvPushButton.h"
#include "cvRadioButton.h"
#include "cvRichEditor.h"
#include "cvTextEdit.h"
#include "cvWidget.h"
#include "dskregistry.h"
#include "dskthread.h"
#include "languagehelper.h"
#include "msgObject.h"
#include "uCTraceHelper.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace {

QString translatedIn(const std::string &language, const QString &english)
{
    const std::string previous = lang_Current();
    lang_SwitchTo(language);
    const QString text = lang_Translate(lang_toLangText(english));
    lang_SwitchTo(previous);
    return text;
}

std::string profileFile()
{
    return etlGetAppDataRootPath() + "/Config/UserData.ini";
}

void setProfileLanguage(const char *language)
{
    QDir().mkpath(QString::fromStdString(etlGetAppDataRootPath() + "/Config"));
    QVERIFY(etlSetProfileString(profileFile(), "Language", "strWebLanguage", language));
}

void removeProfile()
{
    QFile::remove(QString::fromStdString(profileFile()));
}

void setLocale(const char *lang)
{
    qunsetenv("LC_ALL");
    qunsetenv("LC_MESSAGES");
    qputenv("LANG", lang);
}

int countLogLines(const QByteArray &needle)
{
    QFile log(QString::fromStdString(etlGetAppDocPath() + "/log/tarn-desktop.log"));
    if (!log.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return log.readAll().count(needle);
}

// Re-translation for a check box goes through its virtual; this one counts the calls.
class CountingCheckBox : public cvCheckBox
{
    Q_OBJECT
public:
    using cvCheckBox::cvCheckBox;
    void dealLangConfigChanged() override
    {
        ++calls;
        cvCheckBox::dealLangConfigChanged();
    }
    int calls = 0;
};

// A check box whose re-translation deletes another widget, the way a page may rebuild itself.
class SiblingDeletingCheckBox : public cvCheckBox
{
    Q_OBJECT
public:
    using cvCheckBox::cvCheckBox;
    void dealLangConfigChanged() override
    {
        delete victim.data();
        cvCheckBox::dealLangConfigChanged();
    }
    QPointer<QWidget> victim;
};

class DerivedLabel : public cvLabel
{
    Q_OBJECT
public:
    using cvLabel::cvLabel;
};

// A cvWidget whose type also claims to be a cvCheckBox (inherits() goes through qt_metacast).
// Only the first matching row may act on it: a walk that went on to the check-box row would make a
// virtual call through the check box's table slot, which here lands on one of the traps below.
class DoubleClaimWidget : public cvWidget
{
public:
    using cvWidget::cvWidget;
    void *qt_metacast(const char *name) override
    {
        if (name != nullptr && std::strcmp(name, "cvCheckBox") == 0) {
            return this;
        }
        return cvWidget::qt_metacast(name);
    }
    virtual void trap0() { ++wrongCalls; }
    virtual void trap1() { ++wrongCalls; }
    virtual void trap2() { ++wrongCalls; }
    virtual void trap3() { ++wrongCalls; }
    virtual void trap4() { ++wrongCalls; }
    virtual void trap5() { ++wrongCalls; }
    virtual void trap6() { ++wrongCalls; }
    virtual void trap7() { ++wrongCalls; }
    virtual void trap8() { ++wrongCalls; }
    virtual void trap9() { ++wrongCalls; }
    virtual void trap10() { ++wrongCalls; }
    virtual void trap11() { ++wrongCalls; }
    int wrongCalls = 0;
};

} // namespace

class TranslaterHandlerTest : public QObject
{
    Q_OBJECT

private:
    TarnApplication *app() const { return qobject_cast<TarnApplication *>(qApp); }
    msgObject langMessage() const { return msgObject(703); }

    QTemporaryDir m_docDir;
    std::unique_ptr<chThreadLocal> m_uiThread;

private slots:
    void initTestCase()
    {
        QVERIFY(m_docDir.isValid());
        etlOverrideAppRootPath(qEnvironmentVariable("TARN_LANG_TEST_ROOT").toStdString());
        etlSetAppDocPath(m_docDir.path().toStdString());
        uCTraceHelper::getInstance().ResetTraceLevel(7);
        uCTraceHelper::getInstance().RedirectToShareMemory();
        QCOMPARE(translatedIn("German", "Show"), QStringLiteral("Anzeigen"));
        QCOMPARE(translatedIn("French", "Show"), QStringLiteral("Afficher"));

        m_uiThread.reset(new chThreadLocal("ui_thread"));
        QVERIFY(m_uiThread->AttachCurrentThread());
    }

    void cleanupTestCase()
    {
        if (m_uiThread) {
            m_uiThread->DetachThread();
        }
    }

    void init()
    {
        removeProfile();
        setLocale("C");
        lang_SwitchTo("English");
    }

    // --- meta-object -------------------------------------------------------------------------

    void metaCastAnswersEveryBase()
    {
        TranslaterHandler handler(nullptr);
        chMessageHandler *handlerPart = &handler;
        QCOMPARE(handler.qt_metacast("chMessageHandler"), static_cast<void *>(handlerPart));
        QCOMPARE(handler.qt_metacast("TranslaterHandler"), static_cast<void *>(&handler));
        QCOMPARE(handler.qt_metacast("QObject"), static_cast<void *>(static_cast<QObject *>(&handler)));
        QCOMPARE(handler.qt_metacast("cvWidget"), nullptr);
        QCOMPARE(handler.qt_metacast(nullptr), nullptr);
        QVERIFY(handler.inherits("chMessageHandler"));
        // The handler part is not at the start of the object, so a plain pointer cast would be wrong.
        QVERIFY(static_cast<void *>(handlerPart) != static_cast<void *>(&handler));
    }

    void metaObjectHasOneSignalAndNoSlots()
    {
        const QMetaObject &mo = TranslaterHandler::staticMetaObject;
        QCOMPARE(QByteArray(mo.className()), QByteArray("TranslaterHandler"));
        QCOMPARE(mo.superClass(), &QObject::staticMetaObject);
        QCOMPARE(mo.methodCount() - mo.methodOffset(), 1);
        const QMetaMethod signal = mo.method(mo.methodOffset());
        QCOMPARE(signal.methodSignature(), QByteArray("LangConfigChanged()"));
        QCOMPARE(signal.methodType(), QMetaMethod::Signal);
        QCOMPARE(mo.propertyCount() - mo.propertyOffset(), 0);
        QCOMPARE(mo.indexOfSignal("LangConfigChanged()"), mo.methodOffset());
    }

    // --- start-up language -------------------------------------------------------------------

    void startupUsesProfileBeforeLocale()
    {
        setProfileLanguage("German");
        setLocale("fr_FR.UTF-8");
        TranslaterHandler handler(app());
        handler.initLanguage();
        QCOMPARE(lang_Current(), std::string("German"));
    }

    void startupFallsBackToLocale_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addRow("key absent") << QByteArray();
        QTest::addRow("key empty") << QByteArray("");
    }

    void startupFallsBackToLocale()
    {
        QFETCH(QByteArray, profile);
        if (!profile.isNull()) {
            setProfileLanguage(profile.constData());
        }
        setLocale("de_DE.UTF-8");
        TranslaterHandler handler(app());
        handler.initLanguage();
        QCOMPARE(lang_Current(), std::string("German"));
    }

    void startupDefaultsToEnglish()
    {
        lang_SwitchTo("German");
        setLocale("C");
        TranslaterHandler handler(app());
        handler.initLanguage();
        QCOMPARE(lang_Current(), std::string("English"));
    }

    void secondInitLanguageChangesNothing()
    {
        setLocale("de_DE.UTF-8");
        TranslaterHandler handler(app());
        handler.initLanguage();
        QCOMPARE(lang_Current(), std::string("German"));
        setLocale("fr_FR.UTF-8");
        handler.initLanguage();
        QCOMPARE(lang_Current(), std::string("German"));
    }

    // --- switching ---------------------------------------------------------------------------

    void switchWithoutKeyGoesToEnglishNotLocale()
    {
        setLocale("fr_FR.UTF-8");
        TranslaterHandler handler(app());
        handler.initLanguage();
        QCOMPARE(lang_Current(), std::string("French"));

        QSignalSpy spy(&handler, SIGNAL(LangConfigChanged()));
        const int before = countLogLines("N:TranslaterHandler Switch lang to English.");
        msgObject msg = langMessage();
        QCOMPARE(handler.onLangMessage(msg), 1);
        QCOMPARE(lang_Current(), std::string("English"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(countLogLines("N:TranslaterHandler Switch lang to English."), before + 1);
    }

    void switchWithEmptyValueKeepsCurrentLanguage()
    {
        lang_SwitchTo("German");
        setProfileLanguage("");
        TranslaterHandler handler(app());
        QSignalSpy spy(&handler, SIGNAL(LangConfigChanged()));
        const int warnings = countLogLines("W:TranslaterHandler Language  is not available, keeping German.");
        msgObject msg = langMessage();
        QCOMPARE(handler.onLangMessage(msg), 1);
        QCOMPARE(lang_Current(), std::string("German"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(countLogLines("W:TranslaterHandler Language  is not available, keeping German."),
                 warnings + 1);
    }

    void unavailableLanguageIsReported()
    {
        setProfileLanguage("Klingon");
        TranslaterHandler handler(app());
        QSignalSpy spy(&handler, SIGNAL(LangConfigChanged()));
        const int warnings =
            countLogLines("W:TranslaterHandler Language Klingon is not available, keeping English.");
        const int switches = countLogLines("Switch lang to Klingon.");
        const int anyWarnings = countLogLines("is not available");
        msgObject msg = langMessage();
        QCOMPARE(handler.onLangMessage(msg), 1);
        QCOMPARE(lang_Current(), std::string("English"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(countLogLines("W:TranslaterHandler Language Klingon is not available, keeping English."),
                 warnings + 1);
        QCOMPARE(countLogLines("Switch lang to Klingon."), switches + 1);

        setProfileLanguage("German");
        QCOMPARE(handler.onLangMessage(msg), 1);
        QCOMPARE(countLogLines("is not available"), anyWarnings + 1);
    }

    void otherMessagesDoNothing_data()
    {
        QTest::addColumn<uint>("message");
        QTest::addRow("0") << 0u;
        QTest::addRow("702") << 702u;
        QTest::addRow("704") << 704u;
        QTest::addRow("703 in wParam") << 0x10000u + 703u;
    }

    void otherMessagesDoNothing()
    {
        QFETCH(uint, message);
        setProfileLanguage("German");
        QWidget window;
        cvLabel *label = new cvLabel("Show", &window);
        TranslaterHandler handler(app());
        QSignalSpy spy(&handler, SIGNAL(LangConfigChanged()));
        const int before = countLogLines("Switch lang to");

        msgObject msg(message, 703, 703);
        QCOMPARE(handler.onLangMessage(msg), 0);
        QCOMPARE(lang_Current(), std::string("English"));
        QCOMPARE(label->text(), QStringLiteral("Show"));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(countLogLines("Switch lang to"), before);
    }

    void sameLanguageStillAnnounced()
    {
        setProfileLanguage("English");
        TranslaterHandler handler(app());
        QSignalSpy spy(&handler, SIGNAL(LangConfigChanged()));
        const int before = countLogLines("Switch lang to English.");
        msgObject msg = langMessage();
        QCOMPARE(handler.onLangMessage(msg), 1);
        QCOMPARE(handler.onLangMessage(msg), 1);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(countLogLines("Switch lang to English."), before + 2);
    }

    void withoutApplicationNoWidgetIsWalked()
    {
        setProfileLanguage("German");
        QWidget window;
        cvLabel *label = new cvLabel("Show", &window);
        TranslaterHandler handler(nullptr);
        QSignalSpy spy(&handler, SIGNAL(LangConfigChanged()));
        msgObject msg = langMessage();
        QCOMPARE(handler.onLangMessage(msg), 1);
        QCOMPARE(lang_Current(), std::string("German"));
        QCOMPARE(label->text(), QStringLiteral("Show"));
        QCOMPARE(spy.count(), 1);
    }

    // --- the widget walk ---------------------------------------------------------------------

    void everyWidgetKindIsRetranslated()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *widget = new cvWidget;
        widget->setSourceToolTip("Show");
        auto *lineEdit = new cvLineEdit;
        lineEdit->setPlaceholderSource("Show");
        auto *label = new cvLabel("Show");
        auto *richEditor = new cvRichEditor;
        richEditor->setPlaceholderSource("Show");
        auto *textEdit = new cvTextEdit;
        textEdit->setPlaceholderSource("Show");
        auto *plainTextEdit = new cvPlainTextEdit;
        plainTextEdit->setPlaceholderSource("Show");
        auto *pushButton = new cvPushButton("Show");
        auto *checkBox = new cvCheckBox("Show");
        auto *radioButton = new cvRadioButton("Show");
        for (QWidget *w :
             std::initializer_list<QWidget *>{widget, lineEdit, label, richEditor, textEdit, plainTextEdit,
                                              pushButton, checkBox, radioButton}) {
            layout->addWidget(w);
        }
        QCOMPARE(label->text(), QStringLiteral("Show"));

        setProfileLanguage("German");
        TranslaterHandler handler(app());
        msgObject msg = langMessage();
        QCOMPARE(handler.onLangMessage(msg), 1);

        const QString german = translatedIn("German", "Show");
        QCOMPARE(widget->toolTip(), german);
        QCOMPARE(lineEdit->placeholderText(), german);
        QCOMPARE(label->text(), german);
        QCOMPARE(richEditor->placeholderText(), german);
        QCOMPARE(textEdit->placeholderText(), german);
        QCOMPARE(plainTextEdit->placeholderText(), german);
        QCOMPARE(pushButton->text(), german);
        QCOMPARE(checkBox->text(), german);
        QCOMPARE(radioButton->text(), german);
    }

    void labelInsidePlainFrameIsReached()
    {
        QWidget window;
        auto *frame = new QFrame(&window);
        auto *innerFrame = new QFrame(frame);
        auto *label = new cvLabel("Quit", innerFrame);
        auto *hiddenWindow = new QWidget;
        QScopedPointer<QWidget> hiddenOwner(hiddenWindow);
        auto *hiddenLabel = new cvLabel("Quit", hiddenWindow);

        setProfileLanguage("German");
        TranslaterHandler handler(app());
        msgObject msg = langMessage();
        handler.onLangMessage(msg);
        const QString german = translatedIn("German", "Quit");
        QVERIFY(german != QLatin1String("Quit"));
        QCOMPARE(label->text(), german);
        QCOMPARE(hiddenLabel->text(), german);
    }

    void derivedClassesUseTheirBaseRow()
    {
        QWidget window;
        auto *label = new DerivedLabel("Show", &window);
        auto *box = new CountingCheckBox("Show", &window);

        setProfileLanguage("German");
        TranslaterHandler handler(app());
        msgObject msg = langMessage();
        handler.onLangMessage(msg);
        QCOMPARE(label->text(), translatedIn("German", "Show"));
        QCOMPARE(box->calls, 1);
        QCOMPARE(box->text(), translatedIn("German", "Show"));
    }

    void onlyTheFirstMatchingRowActs()
    {
        QWidget window;
        auto *probe = new DoubleClaimWidget(&window);
        probe->setSourceToolTip("Show");
        QVERIFY(probe->inherits("cvWidget"));
        QVERIFY(probe->inherits("cvCheckBox"));

        setProfileLanguage("German");
        TranslaterHandler handler(app());
        msgObject msg = langMessage();
        handler.onLangMessage(msg);
        QCOMPARE(probe->toolTip(), translatedIn("German", "Show"));
        QCOMPARE(probe->wrongCalls, 0);
    }

    void widgetDeletedDuringWalkIsSkipped()
    {
        QWidget window;
        auto *deleter = new SiblingDeletingCheckBox("Show", &window);
        auto *victim = new QFrame(&window);
        new cvLabel("Show", victim);
        auto *survivor = new cvLabel("Show", &window);
        deleter->victim = victim;

        setProfileLanguage("German");
        TranslaterHandler handler(app());
        msgObject msg = langMessage();
        QCOMPARE(handler.onLangMessage(msg), 1);
        QVERIFY(deleter->victim.isNull());
        QCOMPARE(survivor->text(), translatedIn("German", "Show"));
    }

    void windowDeletedDuringWalkIsSkipped()
    {
        auto *first = new QWidget;
        auto *second = new QWidget;
        QPointer<QWidget> firstGuard(first);
        QPointer<QWidget> secondGuard(second);
        auto *firstBox = new SiblingDeletingCheckBox("Show", first);
        auto *secondBox = new SiblingDeletingCheckBox("Show", second);
        // Whichever window the walk reaches first deletes the other one.
        firstBox->victim = second;
        secondBox->victim = first;

        setProfileLanguage("German");
        TranslaterHandler handler(app());
        msgObject msg = langMessage();
        QCOMPARE(handler.onLangMessage(msg), 1);
        QVERIFY(firstGuard.isNull() != secondGuard.isNull());
        QWidget *survivor = firstGuard.isNull() ? secondGuard.data() : firstGuard.data();
        QCOMPARE(survivor->findChild<cvCheckBox *>()->text(), QStringLiteral("Anzeigen"));
        delete survivor;
    }

    void nullWidgetIsIgnored()
    {
        TranslaterHandler handler(app());
        handler.retranslateWidget(nullptr);
        QObject plain;
        handler.retranslateWidget(&plain);
        QCOMPARE(plain.children().size(), 0);
    }

    // --- delivery through the runtime --------------------------------------------------------

    void broadcastArrivesOnceOnTheJoiningThread()
    {
        setProfileLanguage("German");
        QWidget window;
        cvLabel *label = new cvLabel("Show", &window);
        TranslaterHandler handler(app());
        handler.initLanguage();
        handler.initLanguage();
        lang_SwitchTo("English");

        QThread *guiThread = QThread::currentThread();
        std::atomic<int> calls{0};
        std::atomic<bool> onGuiThread{true};
        connect(&handler, &TranslaterHandler::LangConfigChanged, &handler, [&]() {
            ++calls;
            if (QThread::currentThread() != guiThread) {
                onGuiThread = false;
            }
        });

        int reached = -1;
        std::thread worker([&reached]() { reached = msgBroadcastToGroup("MessageGroupLang", 703); });
        worker.join();
        QVERIFY(reached >= 1);

        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2000) {
            m_uiThread->DispatchQueuedMessage(20);
        }
        QCOMPARE(calls.load(), 1);
        QVERIFY(onGuiThread);
        QCOMPARE(label->text(), translatedIn("German", "Show"));
    }

    void destroyedHandlerGetsNoMessage()
    {
        {
            TranslaterHandler handler(app());
            handler.initLanguage();
        }
        setProfileLanguage("German");
        msgBroadcastToGroup("MessageGroupLang", 703);
        const int before = countLogLines("Switch lang to German.");
        m_uiThread->DispatchQueuedMessage(50);
        QCOMPARE(countLogLines("Switch lang to German."), before);
        QCOMPARE(lang_Current(), std::string("English"));
    }
};

int main(int argc, char **argv)
{
    TarnApplication application(argc, argv);
    TranslaterHandlerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TranslaterHandlerTest.moc"
