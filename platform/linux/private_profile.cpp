#include "private_profile.h"

#include "file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
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
//   So a value that begins or ends with a blank, or lies in such a pair itself,
//   is written in double quotes, and every value reads back as it was written.
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
// - A write is one pass from the old file to the new one, which holds no more
//   of the file than a buffer: a large file costs no more memory than a small
//   one, and no more time than reading and writing it.

namespace {

enum class LineKind { other, section, key };

struct Line {
    LineKind kind = LineKind::other;
    std::string_view name;   // blanks dropped
    std::string_view value;  // key lines: blanks dropped, quotes kept
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

Line classify(std::string_view content)
{
    Line line;
    std::string_view rest = content.substr(std::min(content.find_first_not_of(" \t"), content.size()));
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
    line.value = trimBlanks(rest.substr(eq + 1));
    return line;
}

bool isKey(const Line& line, std::string_view key) { return line.kind == LineKind::key && sameName(line.name, key); }

// The reader drops a pair of matching quotes around a value.
bool inQuotes(std::string_view v)
{
    return v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
}

// A value as it goes into the file: one that the reader would change, by its
// blanks or its quotes, goes into double quotes, which the reader (ours and
// Windows') takes off again; every other value keeps its bytes.
std::string storedValue(std::string_view v)
{
    if (inQuotes(v) || (!v.empty() && (isBlank(v.front()) || isBlank(v.back()))))
        return "\"" + std::string(v) + "\"";
    return std::string(v);
}

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
        const Line line = classify(text.substr(at, end - at));
        at = nl == std::string_view::npos ? size : nl + 1;
        if (line.kind == LineKind::section) {
            if (inSection)
                return std::nullopt;  // only the first copy of a section counts
            inSection = sameName(line.name, section);
        } else if (inSection && isKey(line, key)) {
            std::string_view v = line.value;
            if (inQuotes(v))
                v = v.substr(1, v.size() - 2);
            return v;
        }
    }
    return std::nullopt;
}

// Whether a name seen byte by byte is `target` by sameName(), holding no more
// of it than the target's length: past that, any byte but a trailing blank
// makes it longer.
class NameMatch {
public:
    void reset(std::string_view target)
    {
        target_ = target;
        seen_.clear();
        started_ = false;
        longer_ = false;
    }
    void feed(char c)
    {
        if (!started_ && isBlank(c))
            return;
        started_ = true;
        if (seen_.size() < target_.size())
            seen_ += c;
        else if (!isBlank(c))
            longer_ = true;
    }
    bool matches() const { return !longer_ && sameName(seen_, target_); }

private:
    std::string_view target_;
    std::string seen_;
    bool started_ = false;
    bool longer_ = false;
};

// Whether bytes seen one by one are exactly `want`.
class SameBytes {
public:
    explicit SameBytes(std::string_view want) : want_(want) {}
    void reset()
    {
        at_ = 0;
        differs_ = false;
    }
    void feed(char c)
    {
        if (!differs_ && at_ < want_.size() && want_[at_] == c)
            ++at_;
        else
            differs_ = true;
    }
    bool equal() const { return !differs_ && at_ == want_.size(); }

private:
    std::string_view want_;
    std::size_t at_ = 0;
    bool differs_ = false;
};

// One write: the old file read front to back in pieces, its lines classified
// byte by byte as classify() and the writing rules see them, and copied to the
// new file as soon as their fate is known. Lines still undecided when the
// buffer moves on (a line longer than the buffer, or the lines after the last
// key of the section a new key goes into) are read again from the file when
// they are copied.
class Editor {
public:
    Editor(int in, Replacement& out, std::string_view section, const std::optional<Text>& key,
           const std::optional<Text>& value)
        : in_(in), out_(out), section_(section), key_(key ? std::string_view(*key) : std::string_view()),
          stored_(value ? storedValue(*value) : std::string()),
          op_(!key ? Op::deleteSection : !value ? Op::deleteKey : Op::set),
          sectionName_(trimBlanks(section)), keyName_(trimBlanks(key_)), leadSame_(stored_), valueSame_(stored_)
    {
        buffer_.resize(kBuffer);
    }

    // False when the old file could not be read.
    bool run()
    {
        while (in_ >= 0) {
            copyTo(hold());
            const ssize_t n = read(in_, buffer_.data(), buffer_.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                break;
            bufferAt_ = size_;
            filled_ = static_cast<std::size_t>(n);
            size_ += filled_;
            noteLineEnd();
            if (!done_)
                scan();
        }
        if (!done_ && lineStart_ < size_)
            endLine(cr_ ? crAt_ : size_, size_, false);
        if (!done_ && op_ == Op::set) {
            if (inBlock_) {
                insertKey();
            } else {
                copyTo(size_);
                if (size_ > 0 && last_ != '\n')
                    out_.write(last_ == '\r' ? "\n" : eol());
                out_.write("[" + std::string(section_) + "]" + std::string(eol()) + std::string(key_) + "=" + stored_ +
                           std::string(eol()));
                changed_ = true;
            }
        }
        copyTo(size_);
        return !readFailed_;
    }

    // False when the write changes nothing.
    bool changed() const { return changed_; }

private:
    enum class Op { set, deleteKey, deleteSection };
    enum class State { lead, section, key, valueLead, value, rest };
    static constexpr std::size_t kBuffer = 64 * 1024;

    // Where the first line ends tells the file's own line end; what the last
    // byte is tells how its last line ends.
    void noteLineEnd()
    {
        if (!sawLineEnd_) {
            if (const void* nl = std::memchr(buffer_.data(), '\n', filled_)) {
                const std::size_t k = static_cast<std::size_t>(static_cast<const char*>(nl) - buffer_.data());
                sawLineEnd_ = true;
                crLineEnd_ = k > 0 ? buffer_[k - 1] == '\r' : last_ == '\r';
            }
        }
        last_ = buffer_[filled_ - 1];
    }
    std::string_view eol() const { return sawLineEnd_ && !crLineEnd_ ? "\n" : "\r\n"; }

    // Bytes from here on may still be dropped or have a key put before them.
    std::size_t hold() const
    {
        if (done_)
            return size_;
        return op_ == Op::set && inBlock_ ? pendingStart_ : lineStart_;
    }

    void copyTo(std::size_t to)
    {
        if (!out_.ok()) {
            emitted_ = std::max(emitted_, to);
            return;
        }
        while (emitted_ < to) {
            if (emitted_ >= bufferAt_) {
                out_.write(std::string_view(buffer_.data() + (emitted_ - bufferAt_), to - emitted_));
                emitted_ = to;
                continue;
            }
            if (again_.empty())
                again_.resize(kBuffer);
            const std::size_t want = std::min({to, bufferAt_, emitted_ + again_.size()}) - emitted_;
            const ssize_t n = pread(in_, again_.data(), want, static_cast<off_t>(emitted_));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                readFailed_ = true;
                emitted_ = to;
                return;
            }
            out_.write(std::string_view(again_.data(), static_cast<std::size_t>(n)));
            emitted_ += static_cast<std::size_t>(n);
        }
    }
    void drop(std::size_t from, std::size_t to)
    {
        copyTo(from);
        emitted_ = to;
        changed_ = true;
    }

    void scan()
    {
        const char* b = buffer_.data();
        std::size_t i = 0;
        while (i < filled_ && !done_) {
            const std::size_t at = bufferAt_ + i;
            if (state_ == State::lead && at == lineStart_) {
                // Runs of empty lines, eight at a time.
                std::size_t j = i;
                uint64_t w;
                while (j + 8 <= filled_ && (std::memcpy(&w, b + j, 8), w == 0x0A0A0A0A0A0A0A0Aull))
                    j += 8;
                if (j > i) {
                    if (op_ == Op::deleteSection && dropping_)
                        drop(at, bufferAt_ + j);
                    lineStart_ = bufferAt_ + j;
                    i = j;
                    continue;
                }
            }
            if (state_ == State::rest) {
                // Nothing more of this line counts.
                const void* nl = std::memchr(b + i, '\n', filled_ - i);
                if (!nl)
                    return;
                const std::size_t k = static_cast<std::size_t>(static_cast<const char*>(nl) - b);
                endLine(bufferAt_ + k, bufferAt_ + k + 1, true);
                i = k + 1;
                continue;
            }
            step(b[i], at);
            ++i;
        }
    }

    // Line ends are LF or CR LF; a CR before anything else is part of the line.
    void step(char c, std::size_t at)
    {
        if (cr_) {
            cr_ = false;
            if (c == '\n') {
                endLine(crAt_, at + 1, true);
                return;
            }
            feed('\r', crAt_);
        }
        if (c == '\n') {
            endLine(at, at + 1, true);
        } else if (c == '\r') {
            cr_ = true;
            crAt_ = at;
        } else {
            feed(c, at);
        }
    }

    // classify(), one byte at a time.
    void feed(char c, std::size_t at)
    {
        switch (state_) {
        case State::lead:
            if (isBlank(c))
                return;
            if (c == ';') {
                state_ = State::rest;
            } else if (c == '[') {
                state_ = State::section;
                name_.reset(sectionName_);
                trail_ = false;
            } else {
                state_ = State::key;
                name_.reset(keyName_);
                trail_ = false;
                feed(c, at);
            }
            return;
        case State::section:
            if (!trail_ && c == ']') {
                state_ = State::rest;
                kind_ = LineKind::section;
                return;
            }
            nameByte(c);
            return;
        case State::key:
            if (!trail_ && c == '=') {
                state_ = State::valueLead;
                valueAt_ = at + 1;  // a value of blanks only is replaced from right after '='
                leadSame_.reset();
                return;
            }
            nameByte(c);
            return;
        case State::valueLead:
            if (isBlank(c)) {
                leadSame_.feed(c);
                return;
            }
            state_ = State::value;
            valueAt_ = at;  // the file's own spacing after '=' stays
            valueSame_.reset();
            valueSame_.feed(c);
            return;
        case State::value:
            valueSame_.feed(c);
            return;
        case State::rest:
            return;
        }
    }
    void nameByte(char c)
    {
        if (trail_)
            trail_ = false;
        else if (isLead(c))
            trail_ = true;
        name_.feed(c);
    }

    void endLine(std::size_t contentEnd, std::size_t lineEnd, bool finished)
    {
        LineKind kind = kind_;
        if (state_ == State::section)
            kind = LineKind::section;
        else if (state_ == State::valueLead || state_ == State::value)
            kind = LineKind::key;
        const bool match = kind != LineKind::other && name_.matches();
        const bool same = state_ == State::value ? valueSame_.equal() : leadSame_.equal();
        const std::size_t start = lineStart_;
        state_ = State::lead;
        kind_ = LineKind::other;
        cr_ = false;
        lineStart_ = lineEnd;
        handle(kind, match, start, contentEnd, lineEnd, finished, same);
    }

    // The writing rules, line by line: the first copy of the section is where
    // a key is changed, added or deleted; every copy goes when the section is
    // deleted.
    void handle(LineKind kind, bool match, std::size_t start, std::size_t contentEnd, std::size_t lineEnd,
                bool finished, bool same)
    {
        if (op_ == Op::deleteSection) {
            if (kind == LineKind::section)
                dropping_ = match;
            if (dropping_)
                drop(start, lineEnd);
            return;
        }
        if (!inBlock_) {
            if (kind == LineKind::section && match) {
                inBlock_ = true;
                afterEnd_ = pendingStart_ = lineEnd;
                afterFinished_ = finished;
            }
            return;
        }
        if (kind == LineKind::section) {
            if (op_ == Op::set)
                insertKey();
            done_ = true;
        } else if (kind == LineKind::key && match) {
            if (op_ == Op::deleteKey) {
                drop(start, lineEnd);
                return;
            }
            copyTo(valueAt_);
            out_.write(stored_);
            emitted_ = contentEnd;
            changed_ = !same;
            done_ = true;
        } else if (kind == LineKind::key && op_ == Op::set) {
            afterEnd_ = pendingStart_ = lineEnd;
            afterFinished_ = finished;
        }
    }

    // A new key goes after the last key of its section, before the blank
    // lines and comments that end it.
    void insertKey()
    {
        copyTo(afterEnd_);
        if (!afterFinished_)  // the last line of the file
            out_.write(last_ == '\r' ? "\n" : eol());
        out_.write(std::string(key_) + "=" + stored_ + std::string(eol()));
        changed_ = true;
    }

    int in_;
    Replacement& out_;
    std::string_view section_, key_;
    std::string stored_;
    Op op_;
    std::string_view sectionName_, keyName_;

    std::vector<char> buffer_, again_;
    std::size_t bufferAt_ = 0, filled_ = 0, size_ = 0;  // the buffer holds the bytes from bufferAt_ on
    std::size_t emitted_ = 0;                           // bytes before it are written or dropped
    bool readFailed_ = false;
    bool sawLineEnd_ = false, crLineEnd_ = false;
    char last_ = 0;

    // The line being read.
    State state_ = State::lead;
    LineKind kind_ = LineKind::other;
    std::size_t lineStart_ = 0, valueAt_ = 0, crAt_ = 0;
    bool cr_ = false, trail_ = false;
    NameMatch name_;
    SameBytes leadSame_, valueSame_;

    bool inBlock_ = false, dropping_ = false, done_ = false, changed_ = false;
    std::size_t afterEnd_ = 0, pendingStart_ = 0;
    bool afterFinished_ = true;
};

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
    // Two programs share the file, so one's read-modify-replace could drop a
    // key the other wrote meanwhile. The user's own writers take turns by
    // their private lock, which no one else can hold; anyone else who changes
    // the file meanwhile has the pass run again over their file.
    const WriterLock turn(dirfd, name);
    bool ok = false, renamed = false;
    for (int attempt = 0; attempt < kRereads; ++attempt) {
        struct stat st;
        Load load;
        const int in = openRegular(dirfd, name.c_str(), st, load);
        const struct stat* old = load == Load::ok ? &st : nullptr;
        bool again = false;
        if (load == Load::missing || (load == Load::ok && mayReplace(dirfd, name, st))) {
            Replacement next(dirfd, name, old);
            Editor editor(in, next, section, key, value);
            const bool read = editor.run();
            ok = read && !editor.changed();
            if (read && editor.changed() && next.prepare()) {
                // The old file is still open, so its inode number is not anyone else's.
                again = !stillTheFile(dirfd, name.c_str(), old, true);
                ok = renamed = !again && next.commit();
            }
        }
        if (in >= 0)
            close(in);
        if (!again)
            break;
    }
    if (renamed)
        (void)fsync(dirfd);  // the rename is durable only with its directory; a failure here loses no data
    close(dirfd);
    return ok;
}
