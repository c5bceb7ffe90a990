#pragma once
// The files of assets/ as built into the executable.
#include "embedded.h"

std::span<const EmbeddedFile> assetFiles();
