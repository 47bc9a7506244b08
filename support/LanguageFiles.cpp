#include "LanguageFiles.h"

#include "platform/IniFile.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace morvane {

namespace {

constexpr const char* kLangsFolder = "Langs";

bool IsFolder(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

} // namespace

std::string LanguageNameFor(QLocale::Language language)
{
    switch (language) {
    case QLocale::AnyLanguage:
        return "NEUTRAL";
    case QLocale::Arabic:
        return "ARABIC";
    case QLocale::Bulgarian:
        return "BULGARIAN";
    case QLocale::Catalan:
        return "CATALAN";
    case QLocale::Chinese:
        return "CHINESE";
    case QLocale::Czech:
        return "CZECH";
    case QLocale::Danish:
        return "DANISH";
    case QLocale::German:
        return "GERMAN";
    case QLocale::Greek:
        return "GREEK";
    // The C locale speaks English.
    case QLocale::C:
    case QLocale::English:
        return "ENGLISH";
    case QLocale::Spanish:
        return "SPANISH";
    case QLocale::Finnish:
        return "FINNISH";
    case QLocale::French:
        return "FRENCH";
    case QLocale::Hebrew:
        return "HEBREW";
    case QLocale::Hungarian:
        return "HUNGARIAN";
    case QLocale::Icelandic:
        return "ICELANDIC";
    case QLocale::Italian:
        return "ITALIAN";
    case QLocale::Japanese:
        return "JAPANESE";
    case QLocale::Korean:
        return "KOREAN";
    case QLocale::Dutch:
        return "DUTCH";
    case QLocale::NorwegianBokmal:
    case QLocale::NorwegianNynorsk:
        return "NORWEGIAN";
    case QLocale::Polish:
        return "POLISH";
    case QLocale::Portuguese:
        return "PORTUGUESE";
    case QLocale::Romanian:
        return "ROMANIAN";
    case QLocale::Russian:
        return "RUSSIAN";
    // Croatian and Bosnian share Serbian's primary language number.
    case QLocale::Serbian:
    case QLocale::Croatian:
    case QLocale::Bosnian:
        return "SERBIAN";
    case QLocale::Slovak:
        return "SLOVAK";
    case QLocale::Albanian:
        return "ALBANIAN";
    case QLocale::Swedish:
        return "SWEDISH";
    case QLocale::Thai:
        return "THAI";
    case QLocale::Turkish:
        return "TURKISH";
    case QLocale::Indonesian:
        return "INDONESIAN";
    case QLocale::Belarusian:
        return "BELARUSIAN";
    case QLocale::Slovenian:
        return "SLOVENIAN";
    case QLocale::Estonian:
        return "ESTONIAN";
    case QLocale::Latvian:
        return "LATVIAN";
    case QLocale::Lithuanian:
        return "LITHUANIAN";
    case QLocale::Persian:
        return "FARSI";
    case QLocale::Vietnamese:
        return "VIETNAMESE";
    case QLocale::Basque:
        return "BASQUE";
    case QLocale::Afrikaans:
        return "AFRIKAANS";
    case QLocale::Faroese:
        return "FAEROESE";
    default:
        return {};
    }
}

std::string UserLanguageName()
{
    return LanguageNameFor(QLocale::system().language());
}

std::string ShippedLanguageFolder()
{
    const std::string folder = ShareDir() + kLangsFolder + kPathSep;
    return IsFolder(folder) ? folder : std::string();
}

std::string ShippedCounterpart(const std::string& userFile)
{
    const std::string shipped = ShippedLanguageFolder();
    const std::string name = NamePart(userFile);
    if (shipped.empty() || name.size() <= 4 || FolderPart(userFile) == shipped)
        return {};
    const std::string file = FindLanguageFile(shipped, name.substr(0, name.size() - 4));
    std::error_code ec;
    if (file.empty() || !std::filesystem::is_regular_file(file, ec) ||
        std::filesystem::equivalent(file, userFile, ec))
        return {};
    return file;
}

std::string ReadLanguageText(const std::string& userFile, const std::string& section, const std::string& key,
                             const std::string& def)
{
    std::string text = def;
    const std::string shipped = ShippedCounterpart(userFile);
    if (!shipped.empty())
        text = IniFile(shipped).ReadString(section, key, text);
    if (!userFile.empty())
        text = IniFile(userFile).ReadString(section, key, text);
    return text;
}

bool LanguageHasTexts(const std::string& userFile)
{
    std::error_code ec;
    return !userFile.empty() &&
           (std::filesystem::is_regular_file(userFile, ec) || !ShippedCounterpart(userFile).empty());
}

int DropShippedCopies(const std::string& userFolder, const std::string& shippedFolder)
{
    if (shippedFolder.empty() || !IsFolder(userFolder))
        return 0;
    int changed = 0;
    const QDir dir(QString::fromStdString(userFolder));
    for (const QString& qname : dir.entryList({"*.ini"}, QDir::Files, QDir::Name)) {
        const std::string name = qname.toStdString();
        const std::string shippedFile = FindLanguageFile(shippedFolder, name.substr(0, name.size() - 4));
        const std::string userFile = WithTrailingSep(userFolder) + name;
        std::error_code ec;
        if (shippedFile.empty() || !std::filesystem::is_regular_file(shippedFile, ec))
            continue;
        try {
            const IniFile shipped(shippedFile);
            IniFile user(userFile);
            bool dropped = false;
            bool keeps = false;
            for (const std::string& section : user.ReadSections()) {
                for (const std::string& key : user.ReadKeys(section)) {
                    // A key the shipped file lacks reads as a text no file can hold.
                    if (user.ReadString(section, key, "") == shipped.ReadString(section, key, "\n")) {
                        user.DeleteKey(section, key);
                        dropped = true;
                    } else {
                        keeps = true;
                    }
                }
            }
            if (!dropped)
                continue;
            user.Flush();
            // Nothing of the user's own: the file was only a copy.
            if (!keeps)
                std::filesystem::remove(userFile, ec);
            ++changed;
        } catch (const std::exception& e) {
            Log("cannot tidy the language file " + userFile + ": " + e.what());
        }
    }
    return changed;
}

bool FillLanguageFolder(const std::string& folder, const std::string& shipped)
{
    const std::string target = WithoutTrailingSep(folder);
    if (IsFolder(target))
        return true;
    const QString parent = QFileInfo(QString::fromStdString(target)).absolutePath();
    if (!QDir().mkpath(parent))
        return false;
    // Filled under a temporary name and renamed into place, so the folder is either
    // complete or absent; a program that loses the race keeps the winner's folder.
    QTemporaryDir temp(QString::fromStdString(target) + ".tmp-XXXXXX");
    if (!temp.isValid())
        return false;
    if (!shipped.empty()) {
        const QDir source(QString::fromStdString(shipped));
        const QStringList names = source.entryList({"*.ini"}, QDir::Files | QDir::Readable, QDir::Name);
        for (const QString& name : names) {
            const QString copy = temp.filePath(name);
            if (!QFile::copy(source.filePath(name), copy))
                continue;
            QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ReadGroup | QFileDevice::ReadOther);
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp.path().toStdString(), target, ec);
    if (!ec)
        temp.setAutoRemove(false);
    return IsFolder(target);
}

std::string LanguageFolder()
{
    const std::string folder = HomeDir() + kLangsFolder + kPathSep;
    if (!IsFolder(folder))
        FillLanguageFolder(folder, {});
    static std::once_flag tidied;
    std::call_once(tidied, [&folder] { DropShippedCopies(folder, ShippedLanguageFolder()); });
    return folder;
}

std::string FindLanguageFile(const std::string& folder, const std::string& language)
{
    if (language.empty() || language == "." || language == ".." ||
        language.find(kPathSep) != std::string::npos || language.find('\0') != std::string::npos)
        return {};
    const std::string dir = WithTrailingSep(folder);
    const std::string exact = dir + language + ".ini";
    std::error_code ec;
    if (std::filesystem::is_regular_file(exact, ec))
        return exact;
    const QString wanted = QString::fromStdString(language) + QStringLiteral(".ini");
    const QStringList names =
        QDir(QString::fromStdString(dir)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names)
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return dir + name.toStdString();
    return exact;
}

std::string LanguageFilePath(const std::string& language)
{
    return FindLanguageFile(LanguageFolder(), language);
}

bool LanguageFileExists(const std::string& language)
{
    return LanguageHasTexts(LanguageFilePath(language));
}

} // namespace morvane
