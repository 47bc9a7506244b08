#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvane {

// The predefined roots of the store.
enum class RegistryRoot
{
    ClassesRoot,
    CurrentUser,
    LocalMachine,
    Users,
    CurrentConfig,
    DynData
};

// The name a root has in the store's file ("HKEY_CURRENT_USER", ...).
std::string RegistryRootName(RegistryRoot root);

// A tree of keys holding named text values, kept in one INI file. A key path is a list of
// names joined by "/" (leading, trailing and doubled separators are ignored; "" is the
// root itself). Key names and value names compare without regard to ASCII case; a key
// keeps the spelling it was created with. The value name "" is the key's default value.
//
// Every change is written at once, atomically, through the INI module: a reader in any
// process sees the store before or after a change, never half of it, and a crash never
// loses the file. Reads see changes other processes made before them. Parent keys exist
// whenever a key below them does. Results report failures (a name that cannot be stored,
// a file that cannot be written); nothing throws. One object per thread; many objects,
// in any processes, may share one file.
class RegistryStore
{
public:
    // $XDG_CONFIG_HOME/morvane/registry.ini (default ~/.config/morvane/registry.ini).
    static std::string DefaultPath();

    explicit RegistryStore(std::string path = DefaultPath());

    // The file behind the store: change monitors watch it.
    const std::string& Path() const { return m_path; }

    bool KeyExists(RegistryRoot root, const std::string& key) const;
    // Creates the key (and so its parents) when missing; false when it cannot.
    bool CreateKey(RegistryRoot root, const std::string& key);
    // Deletes the key with every key below it; true when it is gone afterwards, also
    // when it never existed. A root itself cannot be deleted.
    bool DeleteKey(RegistryRoot root, const std::string& key);
    // Names of the keys directly below key, each once, in the order the file holds them.
    std::vector<std::string> SubKeys(RegistryRoot root, const std::string& key) const;

    // The value's text, or nothing when the key or the value is missing.
    std::optional<std::string> ReadValue(RegistryRoot root, const std::string& key,
                                         const std::string& name) const;
    // Creates the key when missing. False for text holding a line break or longer than
    // kMaxValueLength bytes (never stored cut), and when the file cannot be written.
    bool WriteValue(RegistryRoot root, const std::string& key, const std::string& name,
                    const std::string& text);
    // True when the value is gone afterwards (also when it never existed).
    bool DeleteValue(RegistryRoot root, const std::string& key, const std::string& name);
    // Names of the key's values ("" for the default value), in file order.
    std::vector<std::string> ValueNames(RegistryRoot root, const std::string& key) const;

    // A text that changes whenever the key's values change (and, with subtree, the values
    // of every key below it); the same text while they stay. Change monitors compare two.
    std::string ValuesFingerprint(RegistryRoot root, const std::string& key, bool subtree) const;
    // The same for which keys exist below key (directly, or at any depth with subtree).
    std::string NamesFingerprint(RegistryRoot root, const std::string& key, bool subtree) const;

    static constexpr std::size_t kMaxValueLength = 2047;

private:
    struct Impl;
    std::string m_path;
};

} // namespace morvane
