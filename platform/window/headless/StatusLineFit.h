// How a window's rows share one terminal line: side by side, " | " between them, never wider
// than the terminal. Widths are display columns of UTF-8 text, not bytes.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Columns the text takes on a terminal: one per character, two for the wide East Asian
// ones, none for combining marks; a byte that starts no valid character counts as one.
int DisplayColumns(const std::string& text);

// The rows joined, fitted to `columns`: while too wide, the widest row but the last (the
// one that changes as the window runs) gives way, shortened in the middle with "…", down
// to that "…" alone; a line still too wide is cut at its end.
std::string FitStatusLine(const std::vector<std::string>& rows, int columns);

}  // namespace platform
