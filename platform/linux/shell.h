#pragma once
// Starting a file, program, folder or address the way the desktop's shell
// would, detached from the caller.
#include <chrono>
#include <optional>

#include "text.h"

enum class ShellMode {
    // What the kernel executes (an ELF program, a "#!" script) is run;
    // anything else goes to xdg-open, never to a shell.
    defaultAction,
    // Always handed to xdg-open, never run: for verbs that must not start a
    // program (a script is edited or shown, not executed).
    desktopOpen,
};

// One detached start: own session, standard input from /dev/null, only
// descriptors 0-2 inherited, no zombie left behind.
// A relative file resolves against the directory when one is named, else the
// current directory, never PATH; one that begins with "-" is handed on as
// "./" + the name, so that it is never taken for an option. Every look-up of
// the directory, the file and xdg-open is made by the started process itself;
// this call waits for it to run its program or give up, so a file system that
// never answers holds it as long. False when nothing was started: an empty
// text, a missing file that is not an address, or no xdg-open to hand it to.
bool StartDetached(ShellMode mode, const Text& file, const std::optional<Text>& parameters, const Text& directory);

// The same start made on a thread of its own, in the order of the calls, so
// that the caller's thread never waits for a fork. The thread waits for no
// started process: a file that never answers holds only the process looking
// at it, never another start or the end of the program.
void StartDetachedInBackground(ShellMode mode, Text file, std::optional<Text> parameters, Text directory);

// Waits, at most for the limit, until every start asked for has been made
// (its process forked), so that a program ending right after a launch still
// opens what it was asked to. True when none is left.
bool FinishBackgroundStarts(std::chrono::milliseconds limit);
