#include "support/components/ToolkitTranslation.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

TEST(ToolkitTranslation, LanguageNamesOfTheProgramNameTheToolkitsLanguages)
{
    const std::pair<const char*, QLocale::Language> cases[] = {
        {"GERMAN", QLocale::German},       {"German", QLocale::German},
        {"farsi", QLocale::Persian},       {"NORWEGIAN", QLocale::NorwegianBokmal},
        {"Klingon", QLocale::AnyLanguage}, {"", QLocale::AnyLanguage},
        {"NEUTRAL", QLocale::AnyLanguage},
    };
    for (const auto& [name, language] : cases)
        EXPECT_EQ(LanguageOfName(name), language) << name;
}

TEST(ToolkitTranslation, ButtonsFollowTheChosenLanguageAndComeBack)
{
    const auto yes = [] {
        return QCoreApplication::translate("QPlatformTheme", "&Yes");
    };
    if (!QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm"))
        GTEST_SKIP() << "the toolkit's translations are not installed";
    EXPECT_TRUE(InstallToolkitTranslation("GERMAN"));
    EXPECT_EQ(yes(), "&Ja");
    // A language the toolkit has no translation for, and English, give its own texts.
    EXPECT_FALSE(InstallToolkitTranslation("Klingon"));
    EXPECT_EQ(yes(), "&Yes");
    EXPECT_TRUE(InstallToolkitTranslation("German"));
    EXPECT_FALSE(InstallToolkitTranslation("English"));
    EXPECT_EQ(yes(), "&Yes");
}

} // namespace
