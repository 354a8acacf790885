// Lays out a text in lines and tab-separated pieces, as static text and message boxes draw
// it: "\n" (or "\r\n") ends a line, a tab moves to the next multiple of the tab width.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

namespace platform {

struct TextPiece {
    int x;     // pixels from the left edge
    int line;  // line number from 0
    std::string_view text;
};

struct TextLayout {
    std::vector<TextPiece> pieces;
    int width = 0;  // the widest line in pixels
    int lines = 0;
};

// measure gives the width of a piece without tabs or line breaks. The pieces point into text.
TextLayout LayOutText(std::string_view text, int tabWidth,
                      const std::function<int(std::string_view)>& measure);

}  // namespace platform
