#include "ToolkitTranslation.h"

#include "support/LanguageFiles.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace morvane {

QLocale::Language LanguageOfName(const std::string& name)
{
    const QString wanted = QString::fromStdString(name).toUpper();
    if (wanted.isEmpty())
        return QLocale::AnyLanguage;
    for (int i = QLocale::C; i <= QLocale::LastLanguage; ++i) {
        const auto language = static_cast<QLocale::Language>(i);
        // NEUTRAL names no language of its own.
        if (language != QLocale::AnyLanguage && QString::fromStdString(LanguageNameFor(language)) == wanted)
            return language;
    }
    return QLocale::AnyLanguage;
}

bool InstallToolkitTranslation(const std::string& languageName)
{
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    const QLocale::Language language = LanguageOfName(languageName);
    if (language == QLocale::AnyLanguage || language == QLocale::C || language == QLocale::English)
        return false;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLocale(language), "qtbase", "_",
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return true;
}

} // namespace morvane
