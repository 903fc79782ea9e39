#pragma once

#include <QString>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QTranslator;

// The process's translation state. Catalogues are loaded once per file and kept for the life of the
// process, so the active one can be read without a lock while another thread switches. The catalogues
// are never installed into the application: widgets are re-translated by whoever switches, without a
// LanguageChange event to every object.
class LanguageCatalogue
{
public:
    static LanguageCatalogue &instance();

    bool switchTo(const std::string &language);
    std::string current();
    QString translate(const QString &key) const;

    static const std::vector<std::string> &languages();
    static bool known(const std::string &language);
    static QString displayName(const std::string &language);
    // <root>/resource/translations/tarn_<language>.qm
    static QString cataloguePath(const std::string &language);

    static constexpr const char *kContext = "tarn";

    LanguageCatalogue(const LanguageCatalogue &) = delete;
    LanguageCatalogue &operator=(const LanguageCatalogue &) = delete;

private:
    LanguageCatalogue();
    ~LanguageCatalogue();

    std::mutex m_mutex;
    std::string m_current = "English";
    std::map<QString, std::unique_ptr<QTranslator>> m_loaded;
    std::atomic<const QTranslator *> m_active{nullptr};
};
