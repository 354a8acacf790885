#include "platform/window/TextLayout.h"

#include <algorithm>

namespace platform {

namespace {

// Places a piece at x on the line, breaking it between words where it passes maxWidth.
void PlacePiece(std::string_view piece, int maxWidth,
                const std::function<int(std::string_view)>& measure, TextLayout* layout, int* x,
                int* line) {
    const int width = measure(piece);
    if (maxWidth <= 0 || *x + width <= maxWidth) {
        layout->pieces.push_back({*x, *line, piece});
        *x += width;
        return;
    }
    size_t at = 0;
    while (at < piece.size()) {
        // A word with the blanks in front of it.
        size_t end = piece.find_first_not_of(' ', at);
        end = end == std::string_view::npos ? piece.size() : piece.find(' ', end);
        end = end == std::string_view::npos ? piece.size() : end;
        std::string_view word = piece.substr(at, end - at);
        int wordWidth = measure(word);
        if (*x > 0 && *x + wordWidth > maxWidth) {
            layout->width = std::max(layout->width, *x);
            ++*line;
            *x = 0;
            const size_t first = word.find_first_not_of(' ');
            word.remove_prefix(first == std::string_view::npos ? word.size() : first);
            wordWidth = measure(word);
        }
        if (!word.empty()) {
            layout->pieces.push_back({*x, *line, word});
            *x += wordWidth;
        }
        at = end;
    }
}

}  // namespace

TextLayout LayOutText(std::string_view text, int tabWidth, int maxWidth,
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
                PlacePiece(piece, maxWidth, measure, &layout, &x, &line);
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
