#pragma once
// Texts of the programs: byte strings in the GB18030 code page (every GBK text
// keeps its bytes). An absent text and an empty one are the same thing here.
// Conversion to UTF-8 happens only at the edges (toolkit, file system).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Text = std::string;

// GB18030 -> UTF-8. Bytes that do not decode are replaced by U+FFFD.
std::string toUtf8(std::string_view text);
// UTF-8 -> GB18030. Characters that cannot be encoded become '?'.
Text fromUtf8(std::string_view utf8);

// Conversion between iconv encodings; nothing when any byte does not convert.
std::optional<std::string> convertStrict(std::string_view in, const char* to, const char* from);

// File-system name -> text and back. Every existing name, UTF-8 or not (GBK
// from an archive made on Windows), comes back from its text byte for byte; a
// text that names no file yet becomes UTF-8.
Text fromFileName(std::string_view name);
std::string toFileName(std::string_view text);
// The two names each '/'-separated part of a text may stand for: its UTF-8
// form and, where the part also reads as a name in the Windows code page, its
// own bytes (else the same). toFileName takes the bytes only where they exist
// and the UTF-8 name does not; this split makes no look-up.
struct FileNamePart {
    std::string utf8, bytes;
};
std::vector<FileNamePart> fileNameParts(std::string_view text);
// Whether a name exists, asked by the two above in place of lstat(2); null
// restores it. Tests make it hang, as a dead network mount does.
using FileNameLookup = bool (*)(const std::string& path);
void SetFileNameLookup(FileNameLookup lookup);

// Joining: the texts one after another; absent parts count as empty.
template <typename... Parts>
Text Join(const Parts&... parts)
{
    Text out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

// Exact byte equality; an absent text equals "".
inline bool TextEquals(std::string_view a, std::string_view b) { return a == b; }

// True when byte i of s is the lead byte of a double-byte character.
inline bool isLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
