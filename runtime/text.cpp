#include "text.h"

#include <iconv.h>

#include <cerrno>

namespace {

// Without a replacement, the first byte that does not convert ends it with nothing.
std::optional<std::string> convert(std::string_view in, const char* to, const char* from,
                                   std::optional<std::string_view> replacement)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return replacement ? std::optional<std::string>(in) : std::nullopt;
    std::string out;
    out.resize(in.size() * 4 + 8);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    while (srcLeft > 0) {
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        if (r != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            size_t used = static_cast<size_t>(dst - out.data());
            out.resize(out.size() * 2);
            dst = out.data() + used;
            dstLeft = out.size() - used;
            continue;
        }
        if (!replacement) {
            iconv_close(cd);
            return std::nullopt;
        }
        // EILSEQ or EINVAL: skip the bad byte (with the byte an escape of a
        // file name marks) and put the replacement.
        size_t skip = static_cast<unsigned char>(*src) == 0xFF && srcLeft >= 2 ? 2 : 1;
        src += skip;
        srcLeft -= skip;
        size_t used = static_cast<size_t>(dst - out.data());
        if (dstLeft < replacement->size() + 8) {
            out.resize(out.size() * 2 + replacement->size());
            dst = out.data() + used;
            dstLeft = out.size() - used;
        }
        for (char c : *replacement) {
            *dst++ = c;
            --dstLeft;
        }
    }
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.resize(static_cast<size_t>(dst - out.data()));
    iconv_close(cd);
    return out;
}

bool isAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

} // namespace

std::string toUtf8(std::string_view text)
{
    if (isAscii(text))
        return std::string(text);
    return *convert(text, "UTF-8", "GB18030", "\xEF\xBF\xBD");
}

Text fromUtf8(std::string_view utf8)
{
    if (isAscii(utf8))
        return Text(utf8);
    return *convert(utf8, "GB18030", "UTF-8", "?");
}

std::optional<std::string> convertStrict(std::string_view in, const char* to, const char* from)
{
    return convert(in, to, from, std::nullopt);
}
