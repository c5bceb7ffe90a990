#include "settings_store.h"

#include <string_view>
#include <vector>

#include "private_profile.h"

namespace {

// The Windows programs hand the profile functions zero-terminated strings, so
// a text is seen only up to its first zero byte.
std::string_view asPassed(const Text& t) { return std::string_view(t.c_str()); }

// Blanks, tabs and line breaks a user may have typed before a name; bytes
// above 127 begin GBK characters and stay.
std::string_view skipLeadingControls(const Text& t)
{
    std::string_view s = asPassed(t);
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    return s;
}

constexpr std::size_t kValueBufferSize = 10240;

} // namespace

Text ReadIniValue(const Text& file, const Text& section, const Text& key, const std::optional<Text>& defaultValue)
{
    const std::string_view f = skipLeadingControls(file);
    const std::string_view s = skipLeadingControls(section);
    const std::string_view k = skipLeadingControls(key);
    if (f.empty() || s.empty() || k.empty())
        return Text();
    std::vector<char> buffer(kValueBufferSize, '\0');
    readProfileString(f, s, k, defaultValue ? asPassed(*defaultValue) : std::string_view(), buffer.data(),
                      buffer.size());
    return Text(buffer.data());
}

bool WriteIniValue(const Text& file, const Text& section, const std::optional<Text>& key,
                   const std::optional<Text>& value)
{
    auto passed = [](const std::optional<Text>& t) { return t ? std::optional<Text>(asPassed(*t)) : std::nullopt; };
    return writeProfileString(asPassed(file), asPassed(section), passed(key), passed(value));
}
