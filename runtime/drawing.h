#pragma once
// Drawing rules of labels and picture boxes, kept here so that every backend
// paints the same pixels.
#include <vector>

#include "definition.h"

// The colours a label's gradient runs through (those not set to default);
// fewer than two means the label has no gradient.
std::vector<Rgb> gradientStops(const UnitDef& label);
// The colour at position p of a run of `extent` pixels cut into equal segments.
Rgb gradientAt(const std::vector<Rgb>& stops, int extent, int p);
// Where a picture of picW x picH lands in a box of boxW x boxH for a display mode.
Rect picturePlacement(int mode, int boxW, int boxH, int picW, int picH);
