#pragma once
// Check boxes that act as one choice: checking a member unchecks its siblings
// and writes the group's labels; unchecking leaves the group empty.
#include <initializer_list>
#include <string_view>

#include "value.h"

struct LabelWrite {
    std::string_view label;
    const char* caption;
};

// The clicked handler of one member: reads only its own box.
void optionGroupClicked(WindowId window, std::string_view member, std::initializer_list<std::string_view> siblings,
                        std::initializer_list<LabelWrite> writes = {});
