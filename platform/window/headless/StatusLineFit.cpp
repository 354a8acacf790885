#include "platform/window/headless/StatusLineFit.h"

#include <algorithm>
#include <cstdint>

namespace platform {
namespace {

constexpr const char* kEllipsis = "\xE2\x80\xA6";  // U+2026, one column
constexpr const char* kSeparator = " | ";

struct Glyph {
    size_t bytes;
    int columns;
};

int ColumnsOf(uint32_t code) {
    if ((code >= 0x0300 && code <= 0x036F) || (code >= 0x200B && code <= 0x200F) ||
        (code >= 0xFE00 && code <= 0xFE0F)) {
        return 0;
    }
    const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                      (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                      (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                      (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x1F300 && code <= 0x1F64F) ||
                      (code >= 0x1F900 && code <= 0x1F9FF) || (code >= 0x20000 && code <= 0x3FFFD);
    return wide ? 2 : 1;
}

// The character at `at`: its length in bytes and its columns.
Glyph GlyphAt(const std::string& text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80                   ? 1
                          : lead >= 0xF0 && lead < 0xF5 ? 4
                          : lead >= 0xE0                ? 3
                          : lead >= 0xC2                ? 2
                                                        : 0;
    if (length <= 1 || at + length > text.size()) {
        return {1, 1};
    }
    uint32_t code = lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return {1, 1};
        }
        code = (code << 6) | (next & 0x3F);
    }
    return {length, ColumnsOf(code)};
}

// The longest start of the text within `columns`.
std::string Head(const std::string& text, int columns) {
    size_t at = 0;
    while (at < text.size()) {
        const Glyph glyph = GlyphAt(text, at);
        if (glyph.columns > columns) {
            break;
        }
        columns -= glyph.columns;
        at += glyph.bytes;
    }
    return text.substr(0, at);
}

// The longest end of the text within `columns`.
std::string Tail(const std::string& text, int columns) {
    std::vector<size_t> starts;
    for (size_t at = 0; at < text.size(); at += GlyphAt(text, at).bytes) {
        starts.push_back(at);
    }
    size_t from = text.size();
    for (auto start = starts.rbegin(); start != starts.rend(); ++start) {
        const int width = GlyphAt(text, *start).columns;
        if (width > columns) {
            break;
        }
        columns -= width;
        from = *start;
    }
    return text.substr(from);
}

// The text in `columns` (at least one), its middle replaced by "…".
std::string ShortenedInMiddle(const std::string& text, int columns) {
    const int kept = columns - 1;
    return Head(text, kept - kept / 2) + kEllipsis + Tail(text, kept / 2);
}

}  // namespace

int DisplayColumns(const std::string& text) {
    int columns = 0;
    for (size_t at = 0; at < text.size();) {
        const Glyph glyph = GlyphAt(text, at);
        columns += glyph.columns;
        at += glyph.bytes;
    }
    return columns;
}

std::string FitStatusLine(const std::vector<std::string>& rows, int columns) {
    std::vector<int> widths;
    int total = 0;
    for (const std::string& row : rows) {
        widths.push_back(DisplayColumns(row));
        total += widths.back();
    }
    total += rows.empty() ? 0 : static_cast<int>(rows.size() - 1) * 3;
    // The widest row gives way one column at a time, so rows that are too long end equal.
    while (total > columns && widths.size() > 1) {
        const auto widest = std::max_element(widths.begin(), widths.end() - 1);
        if (*widest <= 1) {
            break;
        }
        --*widest;
        --total;
    }
    std::string line;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) {
            line += kSeparator;
        }
        line +=
            widths[i] < DisplayColumns(rows[i]) ? ShortenedInMiddle(rows[i], widths[i]) : rows[i];
    }
    return DisplayColumns(line) > columns ? Head(line, std::max(columns, 0)) : line;
}

}  // namespace platform
