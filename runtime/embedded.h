#pragma once
// Files built into the executable (window definitions, pictures, the default sound).
#include <span>
#include <string_view>

struct EmbeddedFile {
    std::string_view name;
    std::string_view data;
};

// Looks a file up by name in a table made by ruvo_embed; empty data when absent.
std::string_view findEmbedded(std::span<const EmbeddedFile> table, std::string_view name);
