#pragma once
// What a program gives the framework: its start-up window, its window
// definitions, its handler table and its assets; each executable defines
// thisProgram().
#include <span>

#include "definition.h"
#include "embedded.h"
#include "value.h"

class Platform;

struct ProgramDefinition {
    WindowId mainWindow;  // loaded at start; closing it ends the program
    std::span<const EmbeddedFile> windows;
    std::span<const HandlerEntry> handlers;
    std::span<const EmbeddedFile> assets;
};

const ProgramDefinition& thisProgram();

// The framework's own set-up: the run directory, which also becomes the current
// directory, and the window definitions (a fault there is fatal).
void FrameworkInit();

// The whole life of a program on a platform: start routine, clean-up, exit code.
[[noreturn]] void RunProgram(Platform& platform, int (*programStart)());

// Fatal error for exhausted memory (the number of bytes that could not be had).
[[noreturn]] void ReportOutOfMemory(size_t bytes);
