// Lays out a text in lines and tab-separated pieces, as static text and message boxes draw
// it: "\n" (or "\r\n") ends a line, a tab moves to the next multiple of the tab width, and
// a line wider than the maximum width breaks between words (a single word that is wider stays
// whole, to be clipped).
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
// A maxWidth of 0 or less never breaks lines.
TextLayout LayOutText(std::string_view text, int tabWidth, int maxWidth,
                      const std::function<int(std::string_view)>& measure);

}  // namespace platform
