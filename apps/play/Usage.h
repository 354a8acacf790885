// The option check's message text and the pause schedule of option I.
#pragma once

#include <cstdint>
#include <string>

class CommandLine;

// Caption of the usage box and the title of the status window.
inline constexpr const char* kProgramTitle = "Quindle64.exe Version 1.14";

// The thirteen fixed usage lines, 631 characters.
const std::string& UsageText();

// What "--help" (the usage text) or "--version" asks to print on standard output; the first
// of them counts, and only as a whole word. Null when neither is given: every other word
// keeps the usual rules.
const char* InformationRequested(int wordCount, const char* const* words);

// Checks the file argument and the option letters. Returns the message to show (error
// lines, a blank line, the usage) or an empty text when the command line is acceptable.
// showBytes is set when option B is present.
std::string BuildOptionMessage(const CommandLine& commandLine, bool* showBytes);

struct LoopDelay {
    bool enabled = false;
    int32_t current = 0;
    int32_t first = 0;
    int32_t limit = 0;
    int32_t step = 0;
};

// Reads "first,limit,step" from the value of option I; numbers that cannot be read stay 0.
// The schedule is on only when first is zero or more. A missing value means no schedule.
LoopDelay ParseLoopDelay(bool present, const char* value);

// The pause before the next pass, then advances the schedule. A negative pause (a negative
// step, or a sum that overflows) is no pause.
int32_t NextLoopPause(LoopDelay* delay);
