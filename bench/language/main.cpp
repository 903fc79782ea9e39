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
constexpr int kRounds = 12;

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
    void retranslate() { setText(QCoreApplication::translate("QtSideText", "Show")); }
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
    void retranslate() { setText(QCoreApplication::translate("QtSideText", "Quit")); }
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
    for (int w = 0; w < kWindows; ++w) {
        auto ours = std::make_unique<QWidget>();
        auto theirs = std::make_unique<QWidget>();
        auto *oursLayout = new QVBoxLayout(ours.get());
        auto *theirsLayout = new QVBoxLayout(theirs.get());
        for (int i = 0; i < kWidgetsPerWindow; ++i) {
            if (i % 2 == 0) {
                oursLayout->addWidget(new cvLabel(QStringLiteral("Show")));
                theirsLayout->addWidget(new QtSideLabel(nullptr));
            } else {
                oursLayout->addWidget(new cvPushButton(QStringLiteral("Quit")));
                theirsLayout->addWidget(new QtSideButton(nullptr));
            }
        }
        windows.push_back(std::move(ours));
        windows.push_back(std::move(theirs));
    }

    QDir().mkpath(QString::fromStdString(etlGetAppDataRootPath() + "/Config"));
    const std::string profile = etlGetAppDataRootPath() + "/Config/UserData.ini";
    TranslaterHandler handler(reinterpret_cast<TarnApplication *>(&app));

    std::vector<double> oursMs;
    std::vector<double> theirsMs;
    bool translatorInstalled = false;
    for (int round = 0; round < kRounds; ++round) {
        const bool german = round % 2 == 0;

        etlSetProfileString(profile, "Language", "strWebLanguage", german ? "German" : "English");
        msgObject msg(703);
        QElapsedTimer clock;
        clock.start();
        handler.onLangMessage(msg);
        oursMs.push_back(clock.nsecsElapsed() / 1e6);

        clock.restart();
        if (german) {
            QCoreApplication::installTranslator(&qtGerman);
        } else {
            QCoreApplication::removeTranslator(&qtGerman);
        }
        translatorInstalled = german;
        // The LanguageChange events are posted to the windows; the round ends when they are delivered.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
        theirsMs.push_back(clock.nsecsElapsed() / 1e6);
    }
    if (translatorInstalled) {
        QCoreApplication::removeTranslator(&qtGerman);
    }

    const double ours = median(oursMs);
    const double theirs = median(theirsMs);
    std::fprintf(stderr, "language_switch: ours %.2f ms, qt %.2f ms per switch of %d widgets\n", ours, theirs,
                 kWindows * kWidgetsPerWindow);
    std::printf("language_switch: ratio=%.3f goal<=1.0\n", theirs > 0 ? ours / theirs : 0.0);
    return 0;
}
