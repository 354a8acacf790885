#include "platform/window/TextLayout.h"

#include <algorithm>

namespace platform {

TextLayout LayOutText(std::string_view text, int tabWidth,
                      const std::function<int(std::string_view)>& measure) {
    TextLayout layout;
    if (tabWidth <= 0) {
        tabWidth = 1;
    }
    int line = 0;
    size_t lineStart = 0;
    for (;;) {
        size_t lineEnd = text.find('\n', lineStart);
        const bool last = lineEnd == std::string_view::npos;
        if (last) {
            lineEnd = text.size();
        }
        std::string_view content = text.substr(lineStart, lineEnd - lineStart);
        if (!content.empty() && content.back() == '\r') {
            content.remove_suffix(1);
        }
        int x = 0;
        size_t pieceStart = 0;
        for (;;) {
            size_t tab = content.find('\t', pieceStart);
            const size_t pieceEnd = tab == std::string_view::npos ? content.size() : tab;
            std::string_view piece = content.substr(pieceStart, pieceEnd - pieceStart);
            if (!piece.empty()) {
                layout.pieces.push_back({x, line, piece});
                x += measure(piece);
            }
            if (tab == std::string_view::npos) {
                break;
            }
            x = (x / tabWidth + 1) * tabWidth;
            pieceStart = tab + 1;
        }
        layout.width = std::max(layout.width, x);
        // A final line break adds no empty line of its own.
        if (last) {
            layout.lines = line + (content.empty() && line > 0 ? 0 : 1);
            break;
        }
        ++line;
        lineStart = lineEnd + 1;
    }
    return layout;
}

}  // namespace platform
