#include "option_group.h"

#include "framework.h"

void optionGroupClicked(WindowId window, std::string_view member, std::initializer_list<std::string_view> siblings,
                        std::initializer_list<LabelWrite> writes)
{
    if (GetNumber(window, member, Prop::checked) != 1)
        return;  // just unchecked: the labels keep their texts
    for (std::string_view s : siblings)
        SetUnitProperty(window, s, Prop::checked, false);
    for (const LabelWrite& w : writes)
        SetUnitProperty(window, w.label, Prop::caption, w.caption);
}
