#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <QtTest>

// Every English text the program shows through the catalogues has a real translation in each
// shipped language.
class CataloguesTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sourcesAreFound();
    void everySourceIsTranslated_data();
    void everySourceIsTranslated();

private:
    static QMap<QString, QString> readCatalogue(const QString &path, QString *error);
    QSet<QString> m_sources;
};

namespace {
QString sourceDir()
{
    return QStringLiteral(TARN_SOURCE_DIR);
}

// Joins adjacent literals and resolves the escapes the sources use.
QString literalText(const QString &literals)
{
    static const QRegularExpression part(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
    QString text;
    QRegularExpressionMatchIterator it = part.globalMatch(literals);
    while (it.hasNext())
        text += it.next().captured(1);
    text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    text.replace(QStringLiteral("\\\""), QStringLiteral("\""));
    text.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    return text;
}
} // namespace

void CataloguesTest::initTestCase()
{
    // Texts marked for the catalogues, and texts handed to the translation functions directly.
    const QString literals = QStringLiteral("((?:\\s*\"(?:[^\"\\\\]|\\\\.)*\")+)");
    const QList<QRegularExpression> patterns = {
        QRegularExpression(QStringLiteral("\\bCV_TR(?:_NOOP)?\\(") + literals + QStringLiteral("\\s*\\)")),
        QRegularExpression(QStringLiteral("\\blang_toLangText\\((?:QStringLiteral\\(|QString::fromUtf8\\(|"
                                          "QString::fromLatin1\\()?") +
                           literals + QStringLiteral("\\s*\\)")),
        // The tray names its texts through a helper of its own.
        QRegularExpression(QStringLiteral("\\btranslated\\(") + literals + QStringLiteral("\\s*\\)")),
    };
    const QStringList folders = {
        "platform/mainwindow", "platform/modules", "platform/cvqtext", "tray", "app", "lang"};
    for (const QString &folder : folders) {
        QDirIterator it(sourceDir() + QLatin1Char('/') + folder, {"*.cpp", "*.h"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString code = QString::fromUtf8(file.readAll());
            for (const QRegularExpression &pattern : patterns) {
                QRegularExpressionMatchIterator match = pattern.globalMatch(code);
                while (match.hasNext()) {
                    const QString text = literalText(match.next().captured(1));
                    if (!text.isEmpty())
                        m_sources.insert(text);
                }
            }
        }
    }
    // The tray's menu and tool tip.
    m_sources << QStringLiteral("Corvane Connect") << QStringLiteral("Show") << QStringLiteral("Quit");
}

void CataloguesTest::sourcesAreFound()
{
    // The scan itself works: texts of the window, the pages and the message boxes are all seen.
    QVERIFY2(m_sources.size() > 50, qPrintable(QString::number(m_sources.size())));
    for (const char *text : {"File", "No USB devices found", "You are using the latest version.",
                             "Thank you! Your feedback has been saved.", "Connected devices: %1",
                             "Start the soft phone together with the application"})
        QVERIFY2(m_sources.contains(QString::fromUtf8(text)), text);
}

QMap<QString, QString> CataloguesTest::readCatalogue(const QString &path, QString *error)
{
    QMap<QString, QString> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open ") + path;
        return entries;
    }
    QXmlStreamReader xml(&file);
    QString context, source;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const bool unfinished =
                xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
            const QString translation = xml.readElementText();
            if (context != QLatin1String("tarn"))
                *error = QStringLiteral("context ") + context + QStringLiteral(" in ") + path;
            if (!unfinished && !translation.isEmpty())
                entries.insert(source, translation);
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return entries;
}

void CataloguesTest::everySourceIsTranslated_data()
{
    QTest::addColumn<QString>("catalogue");
    for (const char *language : {"German", "French", "ChineseSimplified"})
        QTest::newRow(language) << sourceDir() + QStringLiteral("/resource/translations/tarn_") +
                                       QString::fromLatin1(language) + QStringLiteral(".ts");
}

void CataloguesTest::everySourceIsTranslated()
{
    QFETCH(QString, catalogue);
    QString error;
    const QMap<QString, QString> entries = readCatalogue(catalogue, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QStringList missing;
    for (const QString &source : m_sources) {
        if (!entries.contains(source))
            missing << source;
    }
    missing.sort();
    QVERIFY2(missing.isEmpty(),
             qPrintable(QStringLiteral("untranslated: ") + missing.join(QStringLiteral(" | "))));

    // Placeholders survive translation, or the filled-in value would vanish.
    static const QRegularExpression placeholder(QStringLiteral("%\\d"));
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        QRegularExpressionMatchIterator match = placeholder.globalMatch(it.key());
        while (match.hasNext()) {
            const QString mark = match.next().captured(0);
            QVERIFY2(it.value().contains(mark), qPrintable(it.key()));
        }
    }
}

QTEST_MAIN(CataloguesTest)
#include "CataloguesTest.moc"
