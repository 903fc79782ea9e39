// Language switch over 5,000 widgets in 50 windows: the handler's walk over cv widgets against Qt's
// own installTranslator + LanguageChange round over plain widgets that retranslate in changeEvent.

#include "ETLLib.h"
#include "TranslaterHandler.h"
#include "cvLabel.h"
#include "cvPushButton.h"
#include "dskregistry.h"
#include "languagehelper.h"
#include "msgObject.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kWindows = 50;
constexpr int kWidgetsPerWindow = 100;
constexpr int kRounds = 60;

class QtSideLabel : public QLabel
{
public:
    explicit QtSideLabel(QWidget *parent) : QLabel(parent) { retranslate(); }

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::LanguageChange) {
            retranslate();
        }
        QLabel::changeEvent(event);
    }

private:
    void retranslate() { setText(QCoreApplication::translate("tarn", "Show")); }
};

class QtSideButton : public QPushButton
{
public:
    explicit QtSideButton(QWidget *parent) : QPushButton(parent) { retranslate(); }

protected:
    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::LanguageChange) {
            retranslate();
        }
        QPushButton::changeEvent(event);
    }

private:
    void retranslate() { setText(QCoreApplication::translate("tarn", "Quit")); }
};

// The fastest round: on a shared machine the others only add noise from outside.
double best(const std::vector<double> &values)
{
    return *std::min_element(values.begin(), values.end());
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir config;
    if (!config.isValid()) {
        std::fprintf(stderr, "language_switch: no temporary folder\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    etlOverrideAppRootPath(TARN_BENCH_ROOT);
    lang_Init("English");

    QTranslator qtGerman;
    if (!qtGerman.load(QStringLiteral(TARN_BENCH_QM))) {
        std::fprintf(stderr, "language_switch: cannot load %s\n", TARN_BENCH_QM);
        return 1;
    }

    // Both sides' windows exist at once, as they would in one program; each side walks all of them.
    std::vector<std::unique_ptr<QWidget>> windows;
    cvLabel *oursSample = nullptr;
    QLabel *theirsSample = nullptr;
    for (int w = 0; w < kWindows; ++w) {
        auto oursWindow = std::make_unique<QWidget>();
        auto theirsWindow = std::make_unique<QWidget>();
        auto *oursLayout = new QVBoxLayout(oursWindow.get());
        auto *theirsLayout = new QVBoxLayout(theirsWindow.get());
        for (int i = 0; i < kWidgetsPerWindow; ++i) {
            if (i % 2 == 0) {
                auto *ours = new cvLabel(QStringLiteral("Show"));
                auto *theirs = new QtSideLabel(nullptr);
                oursLayout->addWidget(ours);
                theirsLayout->addWidget(theirs);
                oursSample = ours;
                theirsSample = theirs;
            } else {
                oursLayout->addWidget(new cvPushButton(QStringLiteral("Quit")));
                theirsLayout->addWidget(new QtSideButton(nullptr));
            }
        }
        windows.push_back(std::move(oursWindow));
        windows.push_back(std::move(theirsWindow));
    }

    QDir().mkpath(QString::fromStdString(etlGetAppDataRootPath() + "/Config"));
    const std::string profile = etlGetAppDataRootPath() + "/Config/UserData.ini";
    TranslaterHandler handler(reinterpret_cast<TarnApplication *>(&app));

    // Switches to German and back to English cost differently; each direction is measured on its own.
    std::vector<double> oursMs[2];
    std::vector<double> theirsMs[2];
    bool translatorInstalled = false;
    for (int round = 0; round < kRounds; ++round) {
        const bool german = round % 2 == 0;

        etlSetProfileString(profile, "Language", "strWebLanguage", german ? "German" : "English");
        msgObject msg(703);
        // Each side starts from an empty queue, and its round ends when what it posted has been delivered.
        QCoreApplication::sendPostedEvents();
        QElapsedTimer clock;
        clock.start();
        handler.onLangMessage(msg);
        QCoreApplication::sendPostedEvents();
        oursMs[german].push_back(clock.nsecsElapsed() / 1e6);

        QCoreApplication::sendPostedEvents();
        clock.restart();
        if (german) {
            QCoreApplication::installTranslator(&qtGerman);
        } else {
            QCoreApplication::removeTranslator(&qtGerman);
        }
        translatorInstalled = german;
        // The LanguageChange events are posted to the windows.
        QCoreApplication::sendPostedEvents();
        theirsMs[german].push_back(clock.nsecsElapsed() / 1e6);

        // Both sides must really have switched, or the figures compare nothing.
        const QString expected = german ? QStringLiteral("Anzeigen") : QStringLiteral("Show");
        if (oursSample->text() != expected || theirsSample->text() != expected) {
            std::fprintf(stderr, "language_switch: round %d did not switch (ours \"%s\", qt \"%s\")\n", round,
                         qPrintable(oursSample->text()), qPrintable(theirsSample->text()));
            return 1;
        }
    }
    if (translatorInstalled) {
        QCoreApplication::removeTranslator(&qtGerman);
    }

    const double ours = best(oursMs[0]) + best(oursMs[1]);
    const double theirs = best(theirsMs[0]) + best(theirsMs[1]);
    std::fprintf(stderr,
                 "language_switch: ours %.2f ms, qt %.2f ms for a switch there and back over %d widgets\n",
                 ours, theirs, kWindows * kWidgetsPerWindow);
    std::printf("language_switch: ratio=%.3f goal<=1.0\n", theirs > 0 ? ours / theirs : 0.0);
    return 0;
}
