// File-system names and texts. Names are bytes; most are UTF-8, but an archive
// made on Windows unpacks with names in the Windows code page (GBK), which are
// texts already. Every name that exists comes back from its text as the bytes
// it is; a text that names nothing yet becomes UTF-8.
#include <sys/stat.h>

#include <atomic>
#include <optional>

#include "text.h"

namespace {

// Never part of a GB18030 text: marks a name whose bytes are kept one by one.
constexpr unsigned char kEscape = 0xFF;

std::atomic<FileNameLookup> g_lookup{nullptr};

// Touches the file system, which can hang on a dead mount: callers on the
// window thread must not get here (the player resolves names on its stream).
bool exists(const std::string& path)
{
    if (const FileNameLookup lookup = g_lookup.load())
        return lookup(path);
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool isAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// `parent` is the file-system name of the directory the part lies in, with its "/".
Text textOfPart(const std::string& parent, std::string_view part)
{
    if (isAscii(part))
        return Text(part);
    if (std::optional<Text> text = convertStrict(part, "GB18030", "UTF-8"))
        if (convertStrict(*text, "UTF-8", "GB18030") == part)
            return *text;
    // Not UTF-8: the bytes are the text when they read as one, unless a file
    // named by the UTF-8 of that reading lies beside it and would take its place.
    std::optional<std::string> reading = convertStrict(part, "UTF-8", "GB18030");
    const std::string name(part);
    if (reading && exists(parent + name) && !exists(parent + *reading))
        return name;
    Text escaped;
    for (unsigned char c : part) {
        if (c >= 0x80)
            escaped += char(kEscape);
        escaped += char(c);
    }
    return escaped;
}

FileNamePart readingsOfPart(std::string_view part)
{
    if (isAscii(part))
        return {std::string(part), std::string(part)};
    if (part.find(char(kEscape)) != std::string_view::npos) {
        std::string name;
        for (size_t i = 0; i < part.size(); ++i) {
            if (static_cast<unsigned char>(part[i]) == kEscape && i + 1 < part.size())
                ++i;
            name += part[i];
        }
        return {name, name};
    }
    std::optional<std::string> utf8 = convertStrict(part, "UTF-8", "GB18030");
    if (!utf8)
        return {std::string(part), std::string(part)};  // not a text: its bytes are all there is
    return {std::move(*utf8), std::string(part)};
}

std::string nameOfPart(const std::string& parent, std::string_view part)
{
    FileNamePart r = readingsOfPart(part);
    if (r.bytes != r.utf8 && !exists(parent + r.utf8) && exists(parent + r.bytes))
        return r.bytes;  // a name in the Windows code page
    return r.utf8;
}

// Converts part by part: '/' never occurs inside a character of UTF-8 or GB18030.
template <class Part>
std::string byParts(std::string_view path, Part convertPart, bool parentFromOutput)
{
    std::string out;
    size_t start = 0;
    while (true) {
        size_t slash = path.find('/', start);
        std::string_view part = path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        out += convertPart(parentFromOutput ? out : std::string(path.substr(0, start)), part);
        if (slash == std::string_view::npos)
            return out;
        out += '/';
        start = slash + 1;
    }
}

} // namespace

Text fromFileName(std::string_view name) { return byParts(name, textOfPart, false); }

std::string toFileName(std::string_view text) { return byParts(text, nameOfPart, true); }

std::vector<FileNamePart> fileNameParts(std::string_view text)
{
    std::vector<FileNamePart> parts;
    (void)byParts(text, [&parts](const std::string&, std::string_view part) {
        parts.push_back(readingsOfPart(part));
        return std::string();
    }, false);
    return parts;
}

void SetFileNameLookup(FileNameLookup lookup) { g_lookup = lookup; }
