#pragma once
// The registry as the programs use it, kept per user in one file under
// $XDG_CONFIG_HOME/ruvo, with the Windows rules they rely on: keys below five
// roots (1 classes root .. 5 users), key and value names compared without
// regard to ASCII case, keys created with the keys above them, a key deleted
// only when it has no subkeys.
//
// Values of the local machine's "Software\Microsoft\Windows\CurrentVersion\Run"
// key are also the user's XDG autostart entries: a text value NAME whose data
// is the path of a program becomes $XDG_CONFIG_HOME/autostart/NAME.desktop
// starting that program at login. For that key the entry itself says whether
// the value exists, so an entry the user removed or disabled counts as absent.
#include <optional>
#include <string>

#include "text.h"

namespace registry_store {

enum class Type { sz = 1, binary = 3, dword = 4 };

struct Data {
    Type type = Type::sz;
    std::string bytes;  // a string's data keeps its terminating zero byte
};

// Opens or creates the key (an empty key is the root itself); with data, writes
// the value. True only when a value was written (and, for the autostart key,
// its entry too).
bool setValue(int root, const Text& key, const Text& name, const std::optional<Data>& data);
// True when the value (or the autostart entry) was there and has gone.
bool deleteValue(int root, const Text& key, const Text& name);
// Deletes a key that has no subkeys, with its values; roots are never deleted.
bool deleteKey(int root, const Text& key);
// For the autostart key, an entry of ours still in an older form that desktops
// refuse is written anew on the way.
bool valueExists(int root, const Text& key, const Text& name);
std::optional<Data> readValue(int root, const Text& key, const Text& name);

// Where things are kept (file-system paths).
std::string storeFile();
std::string autostartDirectory();

} // namespace registry_store
