#pragma once

#include "support/TkitComponent.h"

#include <QIcon>
#include <array>
#include <functional>
#include <string>

namespace morvane {

// The association of one file-name extension, kept under the classes root of the user's
// registry store: the extension's key names a file type, whose key holds its description,
// its default icon and five verbs ("open", "opennew", "edit", "print", "printto"), each
// with a display name and a command line. Writing also registers the type with the
// desktop: an extension the desktop already knows keeps its MIME type (.txt stays
// text/plain), any other gets one of its own under $XDG_DATA_HOME/mime/packages/; when
// there is an open command, a hidden desktop entry under $XDG_DATA_HOME/applications/
// opens it and is made that type's default program in $XDG_CONFIG_HOME/mimeapps.list,
// ahead of the one before. Deleting takes the entry out of that list again, so the old
// default is back (a default the user chose since stays).
//
// Setters only store: nothing is written or deleted until WriteAssociation,
// DeleteAssociation or UpdateAssociation is called. An extension that is empty, "." alone,
// or holds "/" is refused by every operation, which then touch nothing. Main thread.
class TkitFileAssociation : public TkitComponent
{
    Q_OBJECT

public:
    enum Verb
    {
        Open,
        OpenNew,
        Edit,
        Print,
        PrintTo,
        VerbCount
    };

    explicit TkitFileAssociation(QObject* owner = nullptr);

    // Kept with a leading "."; setting another one reads its association.
    const std::string& Extension() const { return m_extension; }
    void SetExtension(const std::string& value);

    const std::string& ExtDescription() const { return m_extDescription; }
    void SetExtDescription(const std::string& value) { m_extDescription = value; }
    const std::string& FileDescription() const { return m_fileDescription; }
    void SetFileDescription(const std::string& value) { m_fileDescription = value; }
    const std::string& IconFile() const { return m_iconFile; }
    void SetIconFile(const std::string& value) { m_iconFile = value; }
    int IconIndex() const { return m_iconIndex; }
    void SetIconIndex(int value) { m_iconIndex = value; }
    // Filled by ReadAssociation; there is nothing to set.
    QIcon LargeIcon() const { return m_largeIcon; }
    QIcon SmallIcon() const { return m_smallIcon; }
    // Kept for form files; edits are never written by a setter anyway.
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool value) { m_readOnly = value; }

    const std::string& Command(Verb verb) const { return m_commands[verb]; }
    void SetCommand(Verb verb, const std::string& value) { m_commands[verb] = value; }
    const std::string& CommandDescription(Verb verb) const { return m_descriptions[verb]; }
    void SetCommandDescription(Verb verb, const std::string& value) { m_descriptions[verb] = value; }
    // The verb's key name: "open" ...
    static const char* VerbName(Verb verb);

    // Fills the properties from the store; true when the file type's key was found.
    virtual bool ReadAssociation();
    // Writes the properties (an empty ExtDescription becomes the extension without its
    // point plus "file"); false at the first key that cannot be written, what was
    // written before staying written.
    virtual bool WriteAssociation();
    // Deletes the extension's key with everything below it (the type's key stays); true
    // when it is gone, also when it was never there.
    virtual bool DeleteAssociation();
    // WriteAssociation with its result ignored.
    virtual void UpdateAssociation();

    // What tells the desktop that associations changed; by default the desktop's type and
    // application caches are rebuilt when their tools are installed. Tests replace it.
    static void SetShellNotifier(std::function<void()> notifier);

    // The MIME type files with the extension have on the desktop: the one it already
    // knows, else the component's own.
    std::string MimeTypeName() const;

private:
    bool ExtensionUsable() const;
    bool TypeKeyUsable() const;
    void LoadIcons();
    bool WriteDesktopFiles();
    void RemoveDesktopFiles();
    void NotifyShell();

    std::string m_extension;
    std::string m_extDescription;
    std::string m_fileDescription;
    std::string m_iconFile;
    int m_iconIndex = 0;
    QIcon m_largeIcon;
    QIcon m_smallIcon;
    bool m_readOnly = true;
    std::array<std::string, VerbCount> m_commands;
    std::array<std::string, VerbCount> m_descriptions;
};

} // namespace morvane
