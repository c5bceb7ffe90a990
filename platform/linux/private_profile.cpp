#include "private_profile.h"

#include "file_replace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// Where Microsoft's description of the format leaves a choice open, we take these:
// - A line whose first non-blank byte is '[' opens a section, named up to the
//   first ']' or, without one, up to the line end; the rest is ignored.
// - A line whose first non-blank byte is ';' is a comment. A line of blanks
//   only, or one without '=', is neither key nor section: reads pass over it,
//   writes keep it where it is. Keys before the first section belong to none.
// - The key is what stands before the first '='. Blanks (space, tab) around
//   names and values are ignored; a value in a pair of matching quotes loses them.
// - A section that appears twice: the first copy is the section, for writes as
//   for reads (Windows reads it so), and likewise for a key repeated within it.
//   Deleting a section removes every copy, so none of it can be read afterwards.
// - Names compare case-insensitively in ASCII only. A double-byte character
//   (lead byte 0x81..0xFE) is one unit when comparing and scanning, so a trail
//   byte that happens to be an ASCII letter or ']' is never folded or taken
//   for syntax.
// - Lines end with LF or CR LF; an unfinished last line may end with a bare CR.
//   A write adds lines with the file's own line end (CR LF in a new file, as
//   the Windows programs write it), and gives the last line a line end before
//   anything goes after it, so two lines never merge; a bare CR there gets its
//   LF, so the line still reads as it did.
// - Names and values holding a line break are refused: written, they would
//   turn into other lines, another program's keys among them.

namespace {

enum class LineKind { other, section, key };

struct Line {
    std::string_view content;  // without its line end
    std::string_view end;      // "\r\n", "\n", or "" / "\r" for an unfinished last line
    LineKind kind = LineKind::other;
    std::string_view name;     // blanks dropped
    std::string_view value;    // key lines: blanks dropped, quotes kept
    std::size_t valueAt = 0;   // key lines: where a new value replaces the old one
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isLead(char c) { return isLeadByte(static_cast<unsigned char>(c)); }

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::size_t findSyntax(std::string_view s, char c)
{
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (isLead(s[i]))
            ++i;
        else if (s[i] == c)
            return i;
    }
    return std::string_view::npos;
}

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b)
{
    a = trimBlanks(a);
    b = trimBlanks(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (isLead(a[i])) {
            if (a[i] != b[i] || (i + 1 < a.size() && a[i + 1] != b[i + 1]))
                return false;
            ++i;
        } else if (foldAscii(a[i]) != foldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

Line classify(std::string_view content, std::string_view end)
{
    Line line;
    line.content = content;
    line.end = end;
    std::size_t start = 0;
    while (start < content.size() && isBlank(content[start]))
        ++start;
    std::string_view rest = content.substr(start);
    if (rest.empty() || rest.front() == ';')
        return line;
    if (rest.front() == '[') {
        rest.remove_prefix(1);
        line.kind = LineKind::section;
        line.name = trimBlanks(rest.substr(0, findSyntax(rest, ']')));
        return line;
    }
    const std::size_t eq = findSyntax(rest, '=');
    if (eq == std::string_view::npos)
        return line;
    line.kind = LineKind::key;
    line.name = trimBlanks(rest.substr(0, eq));
    std::size_t at = start + eq + 1;
    line.valueAt = at;
    while (at < content.size() && isBlank(content[at]))
        ++at;
    line.value = trimBlanks(content.substr(at));
    if (!line.value.empty())
        line.valueAt = at;  // keeps the file's own spacing after '='
    return line;
}

std::vector<Line> parse(std::string_view text)
{
    std::vector<Line> lines;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::size_t len = nl == std::string_view::npos ? text.size() : nl;
        std::size_t endLen = nl == std::string_view::npos ? 0 : 1;
        if (len > 0 && text[len - 1] == '\r') {
            --len;
            ++endLen;
        }
        lines.push_back(classify(text.substr(0, len), text.substr(len, endLen)));
        text.remove_prefix(len + endLen);
    }
    return lines;
}

bool isFinished(const Line& line) { return !line.end.empty() && line.end.back() == '\n'; }

std::string_view lineEndOf(const std::vector<Line>& lines)
{
    for (const Line& line : lines)
        if (isFinished(line))
            return line.end;
    return "\r\n";
}

struct Block {
    std::size_t header;
    std::size_t end;  // the next section's header, or the line count
};

std::optional<Block> findSection(const std::vector<Line>& lines, std::string_view name, std::size_t from = 0)
{
    for (std::size_t i = from; i < lines.size(); ++i) {
        if (lines[i].kind != LineKind::section || !sameName(lines[i].name, name))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && lines[end].kind != LineKind::section)
            ++end;
        return Block{i, end};
    }
    return std::nullopt;
}

bool isKey(const Line& line, std::string_view key) { return line.kind == LineKind::key && sameName(line.name, key); }

// Eight bytes at a time through blanks and LFs: the bulk of a file padded
// with empty lines. A CR is left to the caller, which sees whether it ends a
// line. Each test marks the bytes equal to c with their top bit.
std::size_t skipBlankWords(std::string_view text, std::size_t at)
{
    constexpr uint64_t kOnes = 0x0101010101010101ull, kLow7 = 0x7F7F7F7F7F7F7F7Full, kTop = 0x8080808080808080ull;
    auto equal = [](uint64_t w, unsigned char c) {
        const uint64_t t = w ^ (kOnes * c);
        return ~(((t & kLow7) + kLow7) | t) & kTop;
    };
    while (at + 8 <= text.size()) {
        uint64_t w;
        std::memcpy(&w, text.data() + at, 8);
        if ((equal(w, '\n') | equal(w, ' ') | equal(w, '\t')) != kTop)
            break;
        at += 8;
    }
    return at;
}

// One pass over the text, without building the lines: a large file is read at
// every start, six times over. Blanks and line ends between lines are
// skipped; a CR counts as blank only where it ends a line.
std::optional<std::string_view> lookup(std::string_view text, std::string_view section, std::string_view key)
{
    bool inSection = false;
    std::size_t at = 0;
    const std::size_t size = text.size();
    while (at < size) {
        at = skipBlankWords(text, at);
        if (at == size)
            break;
        const char c = text[at];
        if (c == ' ' || c == '\t' || c == '\n' || (c == '\r' && (at + 1 == size || text[at + 1] == '\n'))) {
            ++at;
            continue;
        }
        const std::size_t nl = text.find('\n', at);
        std::size_t end = nl == std::string_view::npos ? size : nl;
        if (end > at && text[end - 1] == '\r')
            --end;
        const Line line = classify(text.substr(at, end - at), {});
        at = nl == std::string_view::npos ? size : nl + 1;
        if (line.kind == LineKind::section) {
            if (inSection)
                return std::nullopt;  // only the first copy of a section counts
            inSection = sameName(line.name, section);
        } else if (inSection && isKey(line, key)) {
            std::string_view v = line.value;
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return std::nullopt;
}

// The new file content, or nothing when the write changes nothing.
std::optional<std::string> edit(const std::string& old, std::string_view section, const std::optional<Text>& key,
                                const std::optional<Text>& value)
{
    const std::vector<Line> lines = parse(old);
    const std::string_view eol = lineEndOf(lines);
    const auto block = findSection(lines, section);
    std::string out;
    out.reserve(old.size() + section.size() + (key ? key->size() : 0) + (value ? value->size() : 0) + 8);
    auto emit = [&](const Line& line, bool finish) {
        out += line.content;
        out += line.end;
        if (finish && !isFinished(line))
            out += line.end == "\r" ? "\n" : eol;
    };

    if (!key || !value) {
        if (!block)
            return std::nullopt;
        std::vector<bool> drop(lines.size(), false);
        if (!key) {
            for (auto b = block; b; b = findSection(lines, section, b->end))
                std::fill(drop.begin() + b->header, drop.begin() + b->end, true);
        } else {
            for (std::size_t i = block->header + 1; i < block->end; ++i)
                drop[i] = isKey(lines[i], *key);
        }
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (!drop[i])
                emit(lines[i], false);
    } else if (!block) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            emit(lines[i], i + 1 == lines.size());
        out.append("[").append(section).append("]").append(eol);
        out.append(*key).append("=").append(*value).append(eol);
    } else {
        std::size_t found = lines.size();
        std::size_t after = block->header;
        for (std::size_t i = block->header + 1; i < block->end && found == lines.size(); ++i) {
            if (isKey(lines[i], *key))
                found = i;
            else if (lines[i].kind == LineKind::key)
                after = i;
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i == found) {
                out.append(lines[i].content.substr(0, lines[i].valueAt)).append(*value).append(lines[i].end);
                continue;
            }
            emit(lines[i], i == after && found == lines.size());
            if (i == after && found == lines.size())
                out.append(*key).append("=").append(*value).append(eol);
        }
    }
    if (out == old)
        return std::nullopt;
    return out;
}

// The file's own permission holds, even for root, for whom access() allows
// everything: a file without its owner's write bit is read-only, as the
// read-only attribute makes it on Windows. Another user's file is never
// replaced by one of ours.
bool mayReplace(int dirfd, const std::string& name, const struct stat& st)
{
    if ((st.st_mode & S_IWUSR) == 0 || faccessat(dirfd, name.c_str(), W_OK, AT_EACCESS) != 0)
        return false;
    return st.st_uid == geteuid() || geteuid() == 0;
}

// The file a symbolic link names, so that the link stays and the file is
// replaced in its own directory. A link to nothing is replaced itself, as a
// missing file is created: its target is never made.
std::optional<std::string> resolveLink(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return errno == ENOENT ? std::optional<std::string>(path) : std::nullopt;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

} // namespace

std::size_t readProfileString(std::string_view file, std::string_view section, std::string_view key,
                              std::string_view defaultValue, char* buffer, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string path = toFileName(file);
    std::string bytes;
    struct stat st;
    if (path.empty() || loadFile(AT_FDCWD, path.c_str(), bytes, st) != Load::ok)
        bytes.clear();
    std::string_view result;
    if (const auto found = lookup(bytes, section, key)) {
        result = *found;
    } else {
        result = defaultValue;
        while (!result.empty() && isBlank(result.back()))
            result.remove_suffix(1);
    }
    const std::size_t n = std::min(result.size(), size - 1);
    if (n > 0)
        std::memcpy(buffer, result.data(), n);
    buffer[n] = '\0';
    return n;
}

bool writeProfileString(std::string_view file, std::string_view section, const std::optional<Text>& key,
                        const std::optional<Text>& value)
{
    if (hasLineBreak(section) || (key && hasLineBreak(*key)) || (value && hasLineBreak(*value)))
        return false;
    const std::optional<std::string> resolved = resolveLink(toFileName(file));
    if (!resolved)
        return false;
    const std::string& path = *resolved;
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return false;

    const int dirfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd < 0)
        return false;
    // Two programs share the file: without the lock, one's read-modify-replace
    // could drop a key the other wrote meanwhile. Where locks are not
    // supported the write still goes ahead.
    (void)flock(dirfd, LOCK_EX);
    bool ok = false;
    std::string old;
    struct stat st;
    const Load load = loadFile(dirfd, name.c_str(), old, st);
    if (load == Load::missing || (load == Load::ok && mayReplace(dirfd, name, st))) {
        const auto next = edit(old, section, key, value);
        ok = !next || replaceFile(dirfd, name, *next, load == Load::ok ? &st : nullptr);
    }
    close(dirfd);
    return ok;
}
