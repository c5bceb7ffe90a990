#include "registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "file_replace.h"

// The store file: a first line naming the format, then one line per key and
// one per value, fields separated by blanks:
//   key <key>
//   value <key> <name> <type> <data>
// A key is its root number and its names joined by backslashes ("4\Software").
// Fields keep their bytes, except that bytes up to the blank, '%', '-' and DEL
// are written as %XX, and an empty field as a lone '-'. None of those bytes is
// ever the trail byte of a GB18030 character, so the file splits byte by byte.
// Lines the reader does not understand are dropped at the next write.

namespace registry_store {

namespace {

constexpr std::string_view kHeader = "ruvo registry 1";
constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr int kLocalMachine = 4;

bool isLead(char c) { return isLeadByte(static_cast<unsigned char>(c)); }

// Names compare without ASCII case; a double-byte character is one unit, so
// its trail byte is never folded.
std::string folded(std::string_view s)
{
    std::string out(s);
    for (size_t i = 0; i < out.size(); ++i) {
        if (isLead(out[i]))
            ++i;
        else if (out[i] >= 'A' && out[i] <= 'Z')
            out[i] = static_cast<char>(out[i] - 'A' + 'a');
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b) { return a.size() == b.size() && folded(a) == folded(b); }

// Where each name of a key path ends: at a backslash that is a character of
// its own, and at the end.
std::vector<size_t> nameEnds(std::string_view key)
{
    std::vector<size_t> ends;
    for (size_t i = 0; i < key.size(); ++i) {
        if (isLead(key[i]))
            ++i;
        else if (key[i] == '\\')
            ends.push_back(i);
    }
    ends.push_back(key.size());
    return ends;
}

// "4\Software\Run": the root and the key's names; nothing when a name is empty
// (a leading, doubled or trailing backslash), which Windows refuses too.
std::optional<Text> fullKey(int root, const Text& key)
{
    if (root < 1 || root > 5)
        root = 3;
    Text out = std::to_string(root);
    if (key.empty())
        return out;
    size_t start = 0;
    for (size_t end : nameEnds(key)) {
        if (end == start)
            return std::nullopt;
        start = end + 1;
    }
    return out + "\\" + key;
}

// Whether `below` lies somewhere under `key`.
bool isBelow(std::string_view below, std::string_view key)
{
    return below.size() > key.size() + 1 && below[key.size()] == '\\' && sameName(below.substr(0, key.size()), key);
}

struct Value {
    Text key;
    Text name;
    Data data;
};

struct Store {
    std::vector<Text> keys;  // every key that exists, roots left out
    std::vector<Value> values;

    bool hasKey(std::string_view k) const
    {
        return k.find('\\') == std::string_view::npos ||
               std::any_of(keys.begin(), keys.end(), [&](const Text& x) { return sameName(x, k); });
    }
    std::vector<Value>::iterator find(std::string_view k, std::string_view name)
    {
        return std::find_if(values.begin(), values.end(),
                            [&](const Value& v) { return sameName(v.key, k) && sameName(v.name, name); });
    }
};

std::string escape(std::string_view s)
{
    if (s.empty())
        return "-";
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b == '%' || b == '-' || b == 0x7F) {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape(std::string_view s)
{
    if (s == "-")
        return std::string();
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size())
            return std::nullopt;
        const int hi = digit(s[i + 1]);
        const int lo = digit(s[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        const size_t end = std::min(line.find(' ', i), line.size());
        if (end > i)
            out.push_back(line.substr(i, end - i));
        i = end + 1;
    }
    return out;
}

Store parse(std::string_view text)
{
    Store store;
    bool first = true;
    while (!text.empty()) {
        const size_t nl = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, nl);
        text.remove_prefix(std::min(nl + 1, text.size()));
        if (first) {
            first = false;
            if (line != kHeader)
                return store;  // not ours: read as empty
            continue;
        }
        const auto f = fields(line);
        std::vector<std::string> u;
        for (size_t i = 1; i < f.size(); ++i) {
            auto field = unescape(f[i]);
            if (!field)
                break;
            u.push_back(std::move(*field));
        }
        if (f.size() == 2 && f[0] == "key" && u.size() == 1 && !store.hasKey(u[0]))
            store.keys.push_back(u[0]);
        else if (f.size() == 5 && f[0] == "value" && u.size() == 4 && (u[2] == "1" || u[2] == "3" || u[2] == "4"))
            store.values.push_back({u[0], u[1], {static_cast<Type>(u[2][0] - '0'), u[3]}});
    }
    return store;
}

std::string serialise(const Store& store)
{
    std::string out(kHeader);
    out += '\n';
    for (const Text& k : store.keys)
        out.append("key ").append(escape(k)).append("\n");
    for (const Value& v : store.values) {
        out.append("value ").append(escape(v.key)).append(" ").append(escape(v.name)).append(" ");
        out.append(std::to_string(static_cast<int>(v.data.type))).append(" ").append(escape(v.data.bytes)).append("\n");
    }
    return out;
}

std::string configHome()
{
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* pw = getpwuid(getuid());
        home = pw && pw->pw_dir ? pw->pw_dir : "";
    }
    return std::string(home) + "/.config";
}

// Creates the folder and the ones above it as needed (mode 0700) and opens it.
int openFolder(const std::string& path)
{
    for (size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/')
            (void)mkdir(path.substr(0, i).c_str(), 0700);  // an existing folder is fine; open() tells the rest
    return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::string storeFolder() { return configHome() + "/ruvo"; }
constexpr const char* kStoreName = "registry";

enum class Update { saved, unchanged, failed };

// One read-modify-write of the store: `change` edits what was read and says
// whether it is to be saved. The user's own writers take turns by their
// private lock, so none drops another's change; a store that changed anyway
// before the rename (a writer that gave up waiting) is read and changed again.
// The store is ours alone: a symbolic link in its place (to another user's
// file, maybe) is neither read nor replaced, and the file is always made anew
// with mode 0600 and the writer as its owner, whatever lay there.
template <class Change>
Update update(Change change)
{
    const int dir = openFolder(storeFolder());
    if (dir < 0)
        return Update::failed;
    const WriterLock turn(dir, kStoreName);
    Update result = Update::failed;
    for (int attempt = 0; attempt < kRereads; ++attempt) {
        struct stat st;
        Load load;
        std::string bytes;
        const int in = openRegular(dir, kStoreName, st, load, false);
        if (in >= 0)
            load = readAll(in, static_cast<size_t>(st.st_size), bytes);
        Store store = load == Load::ok ? parse(bytes) : Store();
        bool again = false;
        if (load == Load::failed) {
            result = Update::failed;
        } else if (!change(store)) {
            result = Update::unchanged;
        } else {
            Replacement next(dir, kStoreName, nullptr, 0600);
            next.write(serialise(store));
            result = Update::failed;
            if (next.prepare()) {
                // The old store is still open, so its inode number is not anyone else's.
                again = !stillTheFile(dir, kStoreName, in >= 0 ? &st : nullptr);
                if (!again && next.commit()) {
                    (void)fsync(dir);  // the rename is durable only with its directory; a failure here loses no data
                    result = Update::saved;
                }
            }
        }
        if (in >= 0)
            close(in);
        if (!again)
            break;
    }
    close(dir);
    return result;
}

Store readStore()
{
    std::string bytes;
    struct stat st;
    const std::string path = storeFolder() + "/" + kStoreName;
    return loadFile(AT_FDCWD, path.c_str(), bytes, st, false) == Load::ok ? parse(bytes) : Store();
}

// --- autostart entries ---

bool isAutostartKey(int root, const Text& key) { return root == kLocalMachine && sameName(key, kRunKey); }

// NAME.desktop, or nothing for a name that cannot be a file name.
std::optional<std::string> entryFile(const Text& name)
{
    std::string n = toUtf8(name);
    if (n.empty() || n.find('/') != std::string::npos || n.find('\0') != std::string::npos)
        return std::nullopt;
    return n + ".desktop";
}

// A string value of a desktop entry, escaped as its format requires.
std::string entryString(std::string_view s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    if (!out.empty() && out.front() == ' ')
        out.replace(0, 1, "\\s");
    return out;
}

// One quoted argument of an Exec line: '"', '`', '$' and '\' escaped inside
// the quotes and '%' doubled (entries for a path holding '%' were written so
// before, and are recognised by it).
std::string execArgument(std::string_view arg)
{
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
        if (c == '%')
            out += '%';
    }
    out += '"';
    return out;
}

// The Exec line that starts the program, escaped once more as a string value.
// A desktop entry is UTF-8 throughout, so a path that is not (a folder
// unpacked from a Windows archive keeps GBK names) is spelt out byte by byte
// for the shell's printf instead. So is a path holding '%': GLib's launcher
// (GNOME, Cinnamon, Xfce) looks for the program before it undoes the doubled
// '%', finds none and refuses the entry.
std::string execLine(std::string_view program)
{
    if (program.find('%') == std::string_view::npos && convertStrict(program, "UTF-8", "UTF-8"))
        return entryString(execArgument(program));
    std::string bytes;
    for (unsigned char c : program) {
        const char octal[] = {'\\', char('0' + (c >> 6)), char('0' + ((c >> 3) & 7)), char('0' + (c & 7)), 0};
        bytes += octal;
    }
    return entryString("/bin/sh -c " + execArgument("exec \"$(printf '" + bytes + "')\""));
}

// The data is the program's path; a Windows string ends at its first zero byte.
std::string programOf(const Data& data) { return toFileName(std::string_view(data.bytes.c_str())); }

std::string entryText(const Text& name, const std::string& exec)
{
    return "[Desktop Entry]\nType=Application\nName=" + entryString(toUtf8(name)) + "\nExec=" + exec + "\n";
}

bool writeEntry(const Text& name, const Data& data)
{
    const auto file = entryFile(name);
    if (!file)
        return false;
    const int dir = openFolder(autostartDirectory());
    if (dir < 0)
        return false;
    const std::string entry = entryText(name, execLine(programOf(data)));
    struct stat st;
    const bool keep = fstatat(dir, file->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    const bool ok = replaceFile(dir, *file, entry, keep ? &st : nullptr);
    close(dir);
    return ok;
}

bool removeEntry(const Text& name)
{
    const auto file = entryFile(name);
    if (!file)
        return false;
    const std::string path = autostartDirectory() + "/" + *file;
    return unlink(path.c_str()) == 0;  // a symbolic link goes, not what it points to
}

// Entries written before for a path holding '%' double it, so GLib desktops
// never start them, yet they count as present and no save replaces them. One
// still exactly as written is rewritten when a save asks whether it exists.
// (Counted absent instead, it would outlive switching autostart off, and KDE,
// which does start it, would go on starting the program.)
void rewriteOldEntry(const Text& name, const Data& data)
{
    const std::string program = programOf(data);
    const auto file = entryFile(name);
    if (data.type != Type::sz || !file || program.find('%') == std::string::npos ||
        !convertStrict(program, "UTF-8", "UTF-8"))
        return;
    const std::string path = autostartDirectory() + "/" + *file;
    std::string bytes;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && loadFile(AT_FDCWD, path.c_str(), bytes, st) == Load::ok &&
        bytes == entryText(name, entryString(execArgument(program))))
        (void)writeEntry(name, data);  // where it cannot be written it stays as it was
}

// An entry counts while it is there and the desktop would start it: a user who
// switches it off in their desktop's settings gets Hidden=true or, on GNOME,
// X-GNOME-Autostart-enabled=false written into it.
bool entryPresent(const Text& name)
{
    const auto file = entryFile(name);
    if (!file)
        return false;
    const std::string path = autostartDirectory() + "/" + *file;
    std::string bytes;
    struct stat st;
    if (loadFile(AT_FDCWD, path.c_str(), bytes, st) != Load::ok)
        return false;
    bool inMain = false;
    std::string_view text = bytes;
    while (!text.empty()) {
        const size_t nl = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(std::min(nl + 1, text.size()));
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.starts_with('[')) {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        const size_t eq = line.find('=');
        if (!inMain || eq == std::string_view::npos)
            continue;
        std::string_view k = line.substr(0, eq);
        std::string_view v = line.substr(eq + 1);
        while (!k.empty() && (k.back() == ' ' || k.back() == '\t'))
            k.remove_suffix(1);
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
            v.remove_prefix(1);
        if ((k == "Hidden" && v == "true") || (k == "X-GNOME-Autostart-enabled" && v == "false"))
            return false;
    }
    return true;
}

} // namespace

std::string storeFile() { return storeFolder() + "/" + kStoreName; }
std::string autostartDirectory() { return configHome() + "/autostart"; }

bool setValue(int root, const Text& key, const Text& name, const std::optional<Data>& data)
{
    const auto k = fullKey(root, key);
    if (!k)
        return false;
    Text stored = name;  // a value keeps the name it was first written with
    const Update done = update([&](Store& s) {
        // The keys above it are created with it.
        for (size_t end : nameEnds(*k))
            if (end > 1 && !s.hasKey(std::string_view(*k).substr(0, end)))
                s.keys.push_back(k->substr(0, end));
        stored = name;
        if (data) {
            if (auto v = s.find(*k, name); v != s.values.end()) {
                v->data = *data;
                stored = v->name;
            } else {
                s.values.push_back({*k, name, *data});
            }
        }
        return true;
    });
    bool written = done == Update::saved && data;
    if (written && data->type == Type::sz && isAutostartKey(root, key))
        written = writeEntry(stored, *data);
    return written;
}

bool deleteValue(int root, const Text& key, const Text& name)
{
    const auto k = fullKey(root, key);
    if (!k)
        return false;
    Text stored = name;
    const Update done = update([&](Store& s) {
        auto v = s.find(*k, name);
        if (v == s.values.end())
            return false;
        stored = v->name;
        s.values.erase(v);
        return true;
    });
    bool deleted = done == Update::saved;
    if (isAutostartKey(root, key))
        deleted = removeEntry(stored) || deleted;
    return deleted;
}

bool deleteKey(int root, const Text& key)
{
    const auto k = fullKey(root, key);
    if (!k || key.empty())
        return false;
    std::vector<Text> gone;
    const Update done = update([&](Store& s) {
        gone.clear();
        if (!s.hasKey(*k) || std::any_of(s.keys.begin(), s.keys.end(), [&](const Text& x) { return isBelow(x, *k); }))
            return false;
        std::erase_if(s.keys, [&](const Text& x) { return sameName(x, *k); });
        std::erase_if(s.values, [&](const Value& v) {
            if (!sameName(v.key, *k))
                return false;
            if (v.data.type == Type::sz)
                gone.push_back(v.name);
            return true;
        });
        return true;
    });
    if (done != Update::saved)
        return false;
    if (isAutostartKey(root, key))
        for (const Text& name : gone)
            (void)removeEntry(name);  // the key is gone already; a stale entry is all that can be left
    return true;
}

bool valueExists(int root, const Text& key, const Text& name)
{
    const auto k = fullKey(root, key);
    if (!k)
        return false;
    Store s = readStore();
    auto v = s.find(*k, name);
    if (isAutostartKey(root, key)) {
        if (v != s.values.end())
            rewriteOldEntry(v->name, v->data);
        return entryPresent(v != s.values.end() ? v->name : name);
    }
    return v != s.values.end();
}

std::optional<Data> readValue(int root, const Text& key, const Text& name)
{
    const auto k = fullKey(root, key);
    if (!k)
        return std::nullopt;
    Store s = readStore();
    auto v = s.find(*k, name);
    if (v == s.values.end())
        return std::nullopt;
    return v->data;
}

} // namespace registry_store
