#include "LanguageCatalogue.h"

#include "ETLLib.h"

#include <QByteArray>
#include <QFileInfo>
#include <QTranslator>

LanguageCatalogue &LanguageCatalogue::instance()
{
    static LanguageCatalogue catalogue;
    return catalogue;
}

LanguageCatalogue::LanguageCatalogue() = default;
LanguageCatalogue::~LanguageCatalogue() = default;

const std::vector<std::string> &LanguageCatalogue::languages()
{
    static const std::vector<std::string> names = {"English", "German", "French", "ChineseSimplified"};
    return names;
}

bool LanguageCatalogue::known(const std::string &language)
{
    for (const std::string &name : languages()) {
        if (name == language) {
            return true;
        }
    }
    return false;
}

QString LanguageCatalogue::displayName(const std::string &language)
{
    if (language == "English") {
        return QStringLiteral("English");
    }
    if (language == "German") {
        return QStringLiteral("Deutsch");
    }
    if (language == "French") {
        return QString::fromUtf8("Fran\xC3\xA7"
                                 "ais");
    }
    if (language == "ChineseSimplified") {
        return QString::fromUtf8("\xE7\xAE\x80\xE4\xBD\x93\xE4\xB8\xAD\xE6\x96\x87");
    }
    return QString::fromStdString(language);
}

QString LanguageCatalogue::cataloguePath(const std::string &language)
{
    return QString::fromStdString(etlGetAppRootPath()) + QStringLiteral("/resource/translations/tarn_") +
           QString::fromStdString(language) + QStringLiteral(".qm");
}

bool LanguageCatalogue::switchTo(const std::string &language)
{
    if (!known(language)) {
        etlModuleTrace(4, "W:languagehelper", "unknown language \"%s\", keeping %s", language.c_str(),
                       current().c_str());
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (language == "English") {
        m_active.store(nullptr);
        m_current = language;
        return true;
    }
    // Keyed by the full path so a different installation root loads its own catalogue.
    const QString path = cataloguePath(language);
    auto it = m_loaded.find(path);
    if (it == m_loaded.end()) {
        auto translator = std::make_unique<QTranslator>();
        if (!QFileInfo(path).isFile() || !translator->load(path)) {
            etlModuleTrace(4, "W:languagehelper", "no catalogue for %s at %s, keeping %s", language.c_str(),
                           path.toUtf8().constData(), m_current.c_str());
            return false;
        }
        it = m_loaded.emplace(path, std::move(translator)).first;
    }
    m_active.store(it->second.get());
    m_current = language;
    return true;
}

std::string LanguageCatalogue::current()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_current;
}

QString LanguageCatalogue::translate(const QString &key) const
{
    const QTranslator *active = m_active.load(std::memory_order_acquire);
    if (!active || key.isEmpty()) {
        return key;
    }
    const QString text = active->translate(kContext, key.toUtf8().constData());
    return text.isEmpty() ? key : text;
}
