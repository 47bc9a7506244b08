#include "support/folderdialog/QdFolderDialog.h"

#include "platform/Paths.h"
#include "platform/ShortText.h"
#include "platform/XdgDirs.h"
#include "support/components/MessageBoxes.h"
#include "support/components/ModalDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QToolButton>
#include <QUrl>
#include <cstdio>
#include <deque>

namespace morvane {

namespace {

std::deque<std::optional<std::string>>& Answers()
{
    static std::deque<std::optional<std::string>> answers;
    return answers;
}

bool Unattended()
{
    if (!qEnvironmentVariableIsEmpty("MORVANE_AUTO_ANSWER"))
        return true;
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

// The toolkit's folder dialog with the component's word on what Open does. The toolkit
// reads quotes in a typed name as marks around several names; a folder has one name, so
// a typed one holding quotes is taken whole, and one that names no folder is said rather
// than read as another.
class FolderFileDialog : public QFileDialog
{
public:
    using QFileDialog::QFileDialog;
    std::function<TQdFolderDialog::Answer()> Decide;

    // The folder named by typed text holding quotes, after an accept; empty otherwise.
    const QString& TypedWhole() const { return m_typedWhole; }

    void accept() override
    {
        m_typedWhole.clear();
        switch (Decide ? Decide() : TQdFolderDialog::Answer::AsUsual) {
        case TQdFolderDialog::Answer::Take:
            QDialog::accept();
            return;
        case TQdFolderDialog::Answer::Stay:
            QApplication::beep();
            return;
        case TQdFolderDialog::Answer::Close:
            QDialog::reject();
            return;
        case TQdFolderDialog::Answer::AsUsual:
            break;
        }
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = edit ? edit->text() : QString();
        if (!typed.contains(QLatin1Char('"'))) {
            QFileDialog::accept();
            return;
        }
        const QString path = QDir::cleanPath(directory().absoluteFilePath(typed));
        if (!QFileInfo(path).isDir()) {
            MessageBoxes::Show(BoxKind::Warning, "The folder \"" + path.toStdString() + "\" does not exist.",
                               BoxButtons::Ok, BoxAnswer::Ok, this);
            return;
        }
        m_typedWhole = path;
        QDialog::accept();
    }

private:
    QString m_typedWhole;
};

// Keys of the default lists, in their order, and the language each group of keys shows.
struct CaptionGroup
{
    const char* Keys;
    const char* NewFolder;
    const char* Label;
};
const CaptionGroup kCaptionGroups[] = {
    {"Default,0009,0409,0809,0C09,1009,1409,1809,1C09,2009,2809,2C09", "New folder", "Current folder:"},
    {"0406", "Ny mappe", "Valgt mappe:"},
    {"0407,0807,0C07,1007,1407", "Neuer Ordner", "Ausgewählter Ordner:"},
    {"040C,080C,0C0C,100C,140C,180C", "Nouveau Dossier", "Dossier Courant:"},
    {"0410,0810", "Nuova Cartella", "Cartella selezionata:"},
    {"0413", "Nieuwe map", "Huidige map:"},
    {"0415", "Nowy folder", "Bieżący folder"},
    {"0416", "Nova Pasta", "Pasta Atual:"},
};
const char* const kKeyOrder[] = {"Default", "0009", "0406", "0407", "0409", "040C", "0410", "0413",
                                 "0415",    "0416", "0807", "0809", "080C", "0810", "0C07", "0C09",
                                 "0C0C",    "1007", "1009", "100C", "1407", "1409", "140C", "1809",
                                 "180C",    "1C09", "2009", "2809", "2C09"};

QStringList DefaultList(bool newFolder)
{
    QStringList list;
    for (const char* key : kKeyOrder) {
        for (const CaptionGroup& group : kCaptionGroups) {
            if (QString::fromLatin1(group.Keys).split(',').contains(QLatin1String(key))) {
                list << QString::fromLatin1(key) + "=" +
                            QString::fromUtf8(newFolder ? group.NewFolder : group.Label);
                break;
            }
        }
    }
    return list;
}

// Where the desktop mounts the network shares the user opened, "" when it has none.
std::string NetworkMountsFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo(runtime + "/gvfs").isDir())
        return {};
    return (runtime + "/gvfs").toStdString();
}

// Special folders this system has, by their numbers.
struct SpecialFolderDef
{
    int Csidl;
    QStandardPaths::StandardLocation Location;
};
const SpecialFolderDef kSpecialFolders[] = {
    {0, QStandardPaths::DesktopLocation},  {5, QStandardPaths::DocumentsLocation},
    {13, QStandardPaths::MusicLocation},   {14, QStandardPaths::MoviesLocation},
    {16, QStandardPaths::DesktopLocation}, {39, QStandardPaths::PicturesLocation},
    {40, QStandardPaths::HomeLocation},
};

// The folder the tree is rooted at; "" for the whole file system, and for the roots this
// system has no folder for (the tree is then not rooted).
std::string RootFolderPath(TSHFolders root)
{
    std::string path;
    switch (root) {
    case TSHFolders::foDesktop:
    case TSHFolders::foDesktopFolder:
        path = TQdFolderDialog::SpecialFolderPath(0);
        break;
    case TSHFolders::foPersonal:
        path = TQdFolderDialog::SpecialFolderPath(5);
        break;
    case TSHFolders::foPrograms:
    case TSHFolders::foStartMenu:
        path = DataHome() + "applications";
        break;
    case TSHFolders::foStartup:
        path = ConfigHome() + "autostart";
        break;
    case TSHFolders::foRecycleBin:
        path = DataHome() + "Trash/files";
        break;
    case TSHFolders::foFonts:
        path = DataHome() + "fonts";
        break;
    case TSHFolders::foNetwork:
        path = NetworkMountsFolder();
        break;
    default:
        break;
    }
    if (path.empty() || !QFileInfo(QString::fromStdString(path)).isDir())
        return {};
    return WithoutTrailingSep(QDir::cleanPath(QString::fromStdString(path)).toStdString());
}

// A chosen folder as the dialog hands it back: no trailing "/", except the root's.
std::string CleanFolder(const std::string& path)
{
    return WithoutTrailingSep(QDir::cleanPath(QString::fromStdString(path)).toStdString());
}

} // namespace

TQdFolderDialog::TQdFolderDialog(QObject* owner) : QObject(owner), m_languageKey(SystemLanguageKey())
{
    m_newFolderCaptions = DefaultNewFolderCaptions();
    m_labelCaptions = DefaultLabelCaptions();
    Repick();
}

TQdFolderDialog::~TQdFolderDialog() = default;

QStringList TQdFolderDialog::DefaultLabelCaptions()
{
    return DefaultList(false);
}

QStringList TQdFolderDialog::DefaultNewFolderCaptions()
{
    return DefaultList(true);
}

std::string TQdFolderDialog::SystemLanguageKey()
{
    // The language's primary number and, for the languages the caption lists know by
    // country, the country's sub-language number.
    struct Primary
    {
        QLocale::Language Language;
        int Id;
    };
    static const Primary primaries[] = {
        {QLocale::English, 0x09}, {QLocale::Danish, 0x06},     {QLocale::German, 0x07},
        {QLocale::French, 0x0C},  {QLocale::Italian, 0x10},    {QLocale::Dutch, 0x13},
        {QLocale::Polish, 0x15},  {QLocale::Portuguese, 0x16}, {QLocale::Swedish, 0x1D},
        {QLocale::Spanish, 0x0A}, {QLocale::Finnish, 0x0B},    {QLocale::NorwegianBokmal, 0x14},
        {QLocale::Czech, 0x05},   {QLocale::Russian, 0x19},    {QLocale::Hungarian, 0x0E},
    };
    struct Sub
    {
        QLocale::Territory Territory;
        int Id;
    };
    static const Sub englishSubs[] = {
        {QLocale::UnitedKingdom, 2}, {QLocale::Australia, 3}, {QLocale::Canada, 4},
        {QLocale::NewZealand, 5},    {QLocale::Ireland, 6},   {QLocale::SouthAfrica, 7},
        {QLocale::Jamaica, 8},       {QLocale::Belize, 10},   {QLocale::TrinidadAndTobago, 11},
    };
    static const Sub germanSubs[] = {{QLocale::Switzerland, 2},
                                     {QLocale::Austria, 3},
                                     {QLocale::Luxembourg, 4},
                                     {QLocale::Liechtenstein, 5}};
    static const Sub frenchSubs[] = {{QLocale::Belgium, 2},
                                     {QLocale::Canada, 3},
                                     {QLocale::Switzerland, 4},
                                     {QLocale::Luxembourg, 5},
                                     {QLocale::Monaco, 6}};
    static const Sub italianSubs[] = {{QLocale::Switzerland, 2}};

    const QLocale locale = QLocale::system();
    int primary = 0;
    for (const Primary& p : primaries)
        if (p.Language == locale.language())
            primary = p.Id;
    int sub = primary ? 1 : 0;
    const auto pickSub = [&](const auto& subs) {
        for (const Sub& s : subs)
            if (s.Territory == locale.territory())
                sub = s.Id;
    };
    if (primary == 0x09)
        pickSub(englishSubs);
    else if (primary == 0x07)
        pickSub(germanSubs);
    else if (primary == 0x0C)
        pickSub(frenchSubs);
    else if (primary == 0x10)
        pickSub(italianSubs);
    char key[8];
    std::snprintf(key, sizeof key, "%04X", (sub << 10 | primary) & 0xFFFF);
    return key;
}

std::string TQdFolderDialog::SpecialFolderPath(int csidl)
{
    for (const SpecialFolderDef& def : kSpecialFolders)
        if (def.Csidl == csidl)
            return CleanFolder(QStandardPaths::writableLocation(def.Location).toStdString());
    return {};
}

std::string TQdFolderDialog::PickLocalizedText(const QStringList& list, const std::string& key)
{
    if (list.isEmpty())
        return {};
    const auto value = [&](const QString& name) -> std::optional<std::string> {
        for (const QString& entry : list) {
            const auto eq = entry.indexOf('=');
            const QString entryName = eq < 0 ? entry : entry.left(eq);
            if (entryName.compare(name, Qt::CaseInsensitive) == 0)
                return (eq < 0 ? QString() : entry.mid(eq + 1)).toStdString();
        }
        return std::nullopt;
    };
    if (auto text = value(QString::fromStdString(key)))
        return *text;
    if (auto text = value(QStringLiteral("Default")))
        return *text;
    const QString first = list.first();
    const auto eq = first.indexOf('=');
    return eq < 0 ? std::string() : first.mid(eq + 1).toStdString();
}

std::string TQdFolderDialog::ShortenPath(const std::string& path, int maxLen)
{
    // Counted and cut in characters, never inside one.
    const auto length = [](const std::u32string& s) {
        return static_cast<int>(s.size());
    };
    const char32_t sep = static_cast<char32_t>(kPathSep);
    const auto utf8 = [](const std::u32string& s) {
        return QString::fromStdU32String(s).toStdString();
    };
    std::u32string s = QString::fromStdString(path).toStdU32String();
    int lateSeparators = 0;
    for (std::size_t i = 2; i < s.size(); ++i)
        if (s[i] == sep)
            ++lateSeparators;
    if (length(s) <= maxLen || maxLen < 6 || s.find(sep) == std::u32string::npos || lateSeparators < 2)
        return utf8(s.substr(0, std::max(maxLen, 0)));
    std::u32string result;
    // A network path ("//server/share/...") keeps both separators; one leading "/" is
    // the root of the file system, kept as the first folder is.
    if (s.compare(0, 2, std::u32string(2, sep)) == 0) {
        result = std::u32string(2, sep);
        s.erase(0, 2);
    }
    result += s.substr(0, s.find(sep) + 1) + U"...";
    do {
        s.erase(0, s.find(sep) + 1);
    } while (length(result + s) + 1 > maxLen && s.find(sep) != std::u32string::npos);
    const std::u32string joined = result + sep + s;
    if (length(joined) <= maxLen)
        return utf8(joined);
    return utf8(joined.substr(0, maxLen - 3) + U"...");
}

void TQdFolderDialog::Repick()
{
    m_newFolderCaption = PickLocalizedText(m_newFolderCaptions, m_languageKey);
    m_labelCaption = PickLocalizedText(m_labelCaptions, m_languageKey);
    if (m_newFolderButton)
        m_newFolderButton->setText(QString::fromStdString(m_newFolderCaption));
}

void TQdFolderDialog::SetLanguageKey(const std::string& key)
{
    m_languageKey = key;
    Repick();
}

void TQdFolderDialog::SetLabelCaptions(const QStringList& list)
{
    if (list.join('\n') == m_labelCaptions.join('\n'))
        return;
    m_labelCaptions = list;
    Repick();
}

void TQdFolderDialog::SetNewFolderCaptions(const QStringList& list)
{
    if (list.join('\n') == m_newFolderCaptions.join('\n'))
        return;
    m_newFolderCaptions = list;
    Repick();
}

void TQdFolderDialog::SetTitles(const QStringList& list)
{
    if (list.join('\n') != m_titles.join('\n'))
        m_titles = list;
}

std::string TQdFolderDialog::Root() const
{
    return RootFolderPath(RootFolder);
}

bool TQdFolderDialog::InsideRoot(const std::string& path) const
{
    const std::string root = Root();
    if (root.empty())
        return true;
    const std::string clean = CleanFolder(path);
    return clean == root || clean.compare(0, root.size() + 1, WithTrailingSep(root)) == 0;
}

std::string TQdFolderDialog::StartFolder() const
{
    if (SpecialFolder != -1) {
        const std::string special = SpecialFolderPath(SpecialFolder);
        if (!special.empty() && InsideRoot(special))
            return special;
    }
    if (!Folder.empty() && InsideRoot(Folder))
        return Folder;
    const std::string root = Root();
    return root.empty() ? QDir::homePath().toStdString() : root;
}

std::vector<std::string> TQdFolderDialog::SharedFolders()
{
    // File systems that reach other computers' shares.
    static const QList<QByteArray> kNetworkTypes = {
        "nfs", "nfs4",       "cifs",  "smb3", "smbfs",     "sshfs",       "9p",
        "afs", "fuse.sshfs", "davfs", "ceph", "glusterfs", "fuse.davfs2", "fuse.rclone"};
    std::vector<std::string> folders;
    const std::string mounts = NetworkMountsFolder();
    if (!mounts.empty())
        folders.push_back(mounts);
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes())
        if (kNetworkTypes.contains(volume.fileSystemType()))
            folders.push_back(volume.rootPath().toStdString());
    return folders;
}

std::unique_ptr<QFileDialog> TQdFolderDialog::CreateDialog(QWidget* parent)
{
    if (!parent)
        parent = qobject_cast<QWidget*>(this->parent());
    if (!parent)
        parent = QApplication::activeWindow();
    auto browse = std::make_unique<FolderFileDialog>(parent);
    browse->Decide = [this] {
        return Decide();
    };
    std::unique_ptr<QFileDialog> dialog = std::move(browse);
    dialog->setObjectName("FolderDialog");
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    // Files are listed only when they may be chosen too.
    dialog->setOption(QFileDialog::ShowDirsOnly, !(Flags & Includefiles));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::LookIn, QString::fromStdString(m_labelCaption));
    const std::string title = PickLocalizedText(m_titles, m_languageKey);
    if (!title.empty())
        dialog->setWindowTitle(QString::fromStdString(title));
    m_chosen.reset();

    // The tree starts at the root and goes no higher; without one the user's places
    // are offered, and with ShowShared the network shares this computer has mounted.
    const std::string root = Root();
    QList<QUrl> places;
    if (!root.empty()) {
        places << QUrl::fromLocalFile(QString::fromStdString(root));
    } else {
        // The whole computer and the home folder (never what an earlier dialog left).
        places << QUrl(QStringLiteral("file:")) << QUrl::fromLocalFile(QDir::homePath());
        if (Flags & ShowShared)
            for (const std::string& share : SharedFolders())
                places << QUrl::fromLocalFile(QString::fromStdString(share));
    }
    dialog->setSidebarUrls(places);

    // The toolkit's dialog always has its name box; EditBox has a typed name checked
    // (Validate), and UsageHint shows a hint unless EditBox asks for the box.
    const bool editBox = (Flags & EditBox) != 0;
    QLabel* hint = nullptr;
    if ((Flags & UsageHint) && !editBox) {
        hint = new QLabel(QObject::tr("Select a folder in the list, then press Open."), dialog.get());
        hint->setObjectName("UsageHint");
    }

    m_dialog = dialog.get();
    SelectionPath = Folder;
    DisplayName = Folder;
    m_selectionHasPath = true;

    auto* grid = qobject_cast<QGridLayout*>(dialog->layout());
    const int bottom = grid ? grid->rowCount() : 0;
    m_status = new QLabel(dialog.get());
    m_status->setObjectName("StatusText");
    m_status->setVisible((Flags & ShowPath) != 0);
    // The toolkit's own button is the new style's; the classic style has ours.
    const bool newStyle = (Flags & NewDialogStyle) != 0;
    if (auto* own = dialog->findChild<QToolButton*>("newFolderButton"))
        own->setVisible(newStyle && !(Flags & HideNewFolderButton));
    m_newFolderButton = nullptr;
    if (!newStyle && !(Flags & HideNewFolderButton)) {
        m_newFolderButton = new QPushButton(QString::fromStdString(m_newFolderCaption), dialog.get());
        m_newFolderButton->setObjectName("NewFolderButton");
        connect(m_newFolderButton, &QPushButton::clicked, this, [this] {
            bool ok = false;
            const QString name = QInputDialog::getText(m_dialog, QString::fromStdString(m_newFolderCaption),
                                                       QString(), QLineEdit::Normal, QString(), &ok);
            if (!ok)
                return;
            std::string error;
            if (!CreateNewFolder(name.toStdString(), &error) && !error.empty())
                MessageBoxes::Show(BoxKind::Error, error, BoxButtons::Ok, BoxAnswer::Ok, m_dialog);
        });
    }
    if (grid) {
        grid->addWidget(m_status, bottom, 0, 1, grid->columnCount());
        if (hint)
            grid->addWidget(hint, bottom + 1, 0, 1, grid->columnCount());
        if (m_newFolderButton)
            grid->addWidget(m_newFolderButton, bottom + 2, 0);
    }
    connect(dialog.get(), &QFileDialog::currentChanged, this, &TQdFolderDialog::SelectionChanged);
    connect(dialog.get(), &QFileDialog::directoryEntered, this, [this](const QString& path) {
        if (m_dialog && !InsideRoot(path.toStdString())) {
            m_dialog->setDirectory(QString::fromStdString(Root()));
            return;
        }
        SelectionChanged(path);
    });
    connect(dialog.get(), &QObject::destroyed, this, [this] {
        m_dialog = nullptr;
        m_status = nullptr;
        m_newFolderButton = nullptr;
    });

    dialog->setDirectory(QString::fromStdString(StartFolder()));
    SelectionChanged(QString::fromStdString(StartFolder()));
    dialog->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        dialog->move(area.width() / 2 - dialog->width() / 2, area.height() / 2 - dialog->height() / 2);
    }
    if (OnInitialized)
        OnInitialized(*this, *dialog);
    return dialog;
}

void TQdFolderDialog::SelectionChanged(const QString& path)
{
    const QFileInfo info(path);
    // Only a folder of the file system has a path to hand back, and a file where files
    // may be chosen.
    const bool choosable = info.isDir() || ((Flags & Includefiles) && info.isFile());
    SelectionPath = !path.isEmpty() && choosable ? CleanFolder(path.toStdString()) : std::string();
    m_selectionIsFolder = info.isDir();
    m_selected = path.toStdString();
    DisplayName = SelectionPath.empty() ? path.toStdString() : SelectionPath;
    if (m_status && (Flags & ShowPath))
        m_status->setText(QString::fromStdString(ShortenPath(DisplayName, 50)));
    m_selectionHasPath = !SelectionPath.empty();
    UpdateOk();
    if (m_newFolderButton)
        m_newFolderButton->setEnabled(m_selectionHasPath);
    if (OnSelectionChanged && m_dialog)
        OnSelectionChanged(*this, *m_dialog, SelectionPath);
}

void TQdFolderDialog::UpdateOk()
{
    if (!m_dialog)
        return;
    auto* box = m_dialog->findChild<QDialogButtonBox*>();
    QPushButton* ok = box ? box->button(QDialogButtonBox::Open) : nullptr;
    if (!ok && box)
        ok = box->button(QDialogButtonBox::Ok);
    if (!ok)
        return;
    bool enable = (Flags & OnlyFileSystem) ? m_selectionHasPath : true;
    // Only what can hold folders of the file system: never a file.
    if ((Flags & OnlyAncestors) && !m_selectionIsFolder)
        enable = false;
    ok->setEnabled(enable);
}

TQdFolderDialog::Answer TQdFolderDialog::Decide()
{
    if (!m_dialog)
        return Answer::AsUsual;
    QString typed;
    if (auto* edit = m_dialog->findChild<QLineEdit*>("fileNameEdit"))
        typed = edit->text();
    if (typed.trimmed().isEmpty())
        typed.clear();
    std::string candidate;
    if (!typed.isEmpty())
        candidate = QDir::cleanPath(m_dialog->directory().absoluteFilePath(typed)).toStdString();
    else
        candidate = m_selected.empty() ? m_dialog->directory().absolutePath().toStdString() : m_selected;
    const QFileInfo info(QString::fromStdString(candidate));
    if (!info.exists()) {
        if (typed.isEmpty() || !(Flags & EditBox) || !(Flags & Validate))
            return Answer::AsUsual;
        // A typed name that names nothing: said, and the dialog closes unchosen.
        if (OnValidateFailed)
            OnValidateFailed(*this, *m_dialog);
        else
            QApplication::beep();
        return Answer::Close;
    }
    if (!InsideRoot(candidate))
        return Answer::Stay;
    const bool folder = info.isDir();
    if (!folder && (!(Flags & Includefiles) || (Flags & OnlyAncestors)))
        return Answer::Stay;
    m_chosen = CleanFolder(candidate);
    SelectionPath = *m_chosen;
    DisplayName = SelectionPath;
    return Answer::Take;
}

std::optional<std::string> TQdFolderDialog::CreateNewFolder(const std::string& name, std::string* error)
{
    if (name.empty())
        return std::nullopt;
    const auto fail = [&](const std::string& text) -> std::optional<std::string> {
        if (error)
            *error = text;
        return std::nullopt;
    };
    // Folders below the selected one, as deep as the name says ("a/b" makes both); a name
    // that climbs out or names nothing is no name of a folder.
    std::vector<std::string> parts;
    for (const QString& part : QString::fromStdString(name).split(QChar(kPathSep), Qt::SkipEmptyParts)) {
        if (part == "." || part == "..")
            return fail("\"" + name + "\" cannot be the name of a new folder.");
        parts.push_back(part.toStdString());
    }
    if (parts.empty())
        return fail("\"" + name + "\" cannot be the name of a new folder.");
    if (SelectionPath.empty())
        return fail("Select the folder the new folder goes in first.");
    std::string path = WithTrailingSep(SelectionPath);
    for (std::size_t i = 0; i < parts.size(); ++i)
        path += (i ? std::string(kPathSepText) : std::string()) + parts[i];
    if (!FitsShortText(path + std::string(kPathSepText)))
        return fail("The path is longer than 255 bytes: " + path);
    if (!QDir().mkpath(QString::fromStdString(path)) || !QFileInfo(QString::fromStdString(path)).isDir())
        return fail("The directory cannot be created: " + path);
    if (m_dialog)
        m_dialog->setDirectory(QString::fromStdString(path));
    SelectionChanged(QString::fromStdString(path));
    return path;
}

void TQdFolderDialog::Finish(const std::string& chosen)
{
    Folder = CleanFolder(chosen);
    SelectionPath = Folder;
    DisplayName = Folder;
    SpecialFolder = -1;
    if (ReturnSpecialFolder) {
        for (const SpecialFolderDef& def : kSpecialFolders) {
            if (SpecialFolderPath(def.Csidl) == Folder) {
                SpecialFolder = def.Csidl;
                break;
            }
        }
    }
}

bool TQdFolderDialog::Execute()
{
    if (!Answers().empty()) {
        const std::optional<std::string> answer = Answers().front();
        Answers().pop_front();
        if (!answer)
            return false;
        Finish(*answer);
        return true;
    }
    // A test that plays the user on the real dialog gets it even offscreen.
    if (Unattended() && !ModalDialogs::HasHandler()) {
        std::fprintf(stderr, "DIALOG folder: cancelled\n");
        std::fflush(stderr);
        return false;
    }
    const std::string before = Folder;
    auto dialog = CreateDialog(nullptr);
    const bool accepted = ModalDialogs::Exec(*dialog) == QDialog::Accepted;
    // CreateDialog always makes our own dialog.
    QString chosen = m_chosen ? QString::fromStdString(*m_chosen)
                              : static_cast<FolderFileDialog*>(dialog.get())->TypedWhole();
    if (accepted && chosen.isEmpty() && !dialog->selectedFiles().isEmpty())
        chosen = dialog->selectedFiles().first();
    if (!accepted || chosen.isEmpty()) {
        Folder = before;
        return false;
    }
    Finish(chosen.toStdString());
    return true;
}

void TQdFolderDialog::PushAnswer(std::optional<std::string> answer)
{
    Answers().push_back(std::move(answer));
}

void TQdFolderDialog::Reset()
{
    Answers().clear();
}

} // namespace morvane
