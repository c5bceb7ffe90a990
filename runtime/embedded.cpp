#include "embedded.h"

std::string_view findEmbedded(std::span<const EmbeddedFile> table, std::string_view name)
{
    for (const EmbeddedFile& f : table)
        if (f.name == name)
            return f.data;
    return {};
}
