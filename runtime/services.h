#pragma once
// Conversions between texts and numbers, as the handlers rely on them. None of
// them depends on the process locale.
#include <cstdint>
#include <initializer_list>

#include "text.h"
#include "value.h"

double ToNumber(const Value& value);
Text ToText(const Value& value);
// Drops the fraction toward zero; NaN and values outside the signed 64-bit
// range give INT64_MIN.
int64_t TruncateToInt64(double value);

// The file write as the programs call it, with byte sets.
bool WriteBytesToFile(const Text& path, std::initializer_list<ByteSet> sets);
