#include "platform/window/fltk/Controls.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/window/TextLayout.h"

namespace platform::fltk {
namespace {

constexpr Fl_Fontsize kDefaultSize = 12;

bool IsFixedFace(const std::string& face) {
    return face.find("Courier") != std::string::npos || face.find("Mono") != std::string::npos ||
           face == "Fixedsys" || face == "Terminal";
}

int AverageCharWidth() {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const double width = fl_width(kAlphabet, static_cast<int>(std::strlen(kAlphabet)));
    return std::max(1, static_cast<int>(width / 52 + 0.5));
}

TextLayout LayOut(const std::string& text, int maxWidth) {
    return LayOutText(text, 8 * AverageCharWidth(), maxWidth, [](std::string_view piece) {
        return static_cast<int>(fl_width(piece.data(), static_cast<int>(piece.size())) + 0.5);
    });
}

}  // namespace

MappedFont MapFont(const FontInfo* font) {
    if (font == nullptr) {
        return {FL_HELVETICA, kDefaultSize};
    }
    const bool fixed = font->fixedPitch || IsFixedFace(font->faceName);
    const bool bold = font->weight >= 600;
    Fl_Font face = fixed ? FL_COURIER : FL_HELVETICA;
    if (bold) {
        face += FL_BOLD;
    }
    if (font->italic) {
        face += FL_ITALIC;
    }
    if (font->height < 0) {
        return {face, -font->height};
    }
    if (font->height == 0) {
        return {face, kDefaultSize};
    }
    // A cell height (and average width, when given): the largest size that fits in both.
    Fl_Fontsize best = 6;
    for (Fl_Fontsize size = 6; size <= 72; ++size) {
        fl_font(face, size);
        const bool fitsHeight = fl_height() <= font->height;
        const bool fitsWidth = font->width <= 0 || fl_width("0", 1) <= font->width;
        if (!fitsHeight || !fitsWidth) {
            break;
        }
        best = size;
    }
    return {face, best};
}

void Measure(const char* text, const MappedFont& font, int maxWidth, int* width, int* height) {
    fl_font(font.face, font.size);
    const TextLayout layout = LayOut(text != nullptr ? text : "", maxWidth);
    *width = layout.width;
    *height = layout.lines * fl_height();
}

TopWindow::TopWindow(int x, int y, int width, int height,
                     std::function<void(int, int, int, int)> moved)
    : Fl_Double_Window(x, y, width, height), moved_(std::move(moved)) {
    end();
}

void TopWindow::resize(int x, int y, int width, int height) {
    Fl_Double_Window::resize(x, y, width, height);
    if (!quiet_ && shown() && moved_) {
        moved_(x, y, width, height);
    }
}

void TopWindow::ResizeQuietly(int x, int y, int width, int height) {
    quiet_ = true;
    size_range(width, height, width, height);
    resize(x, y, width, height);
    force_position(1);  // the program places its windows, not the desktop
    quiet_ = false;
}

StaticText::StaticText(int x, int y, int width, int height)
    : Fl_Widget(x, y, width, height), font_(MapFont(nullptr)) {
    box(FL_FLAT_BOX);
    color(FL_BACKGROUND_COLOR);
}

// The same text again (the status row at every timer tick) is neither laid out nor drawn.
void StaticText::SetText(const std::string& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    redraw();
}

void StaticText::SetFont(const MappedFont& font) {
    font_ = font;
    redraw();
}

void StaticText::draw() {
    fl_push_clip(x(), y(), w(), h());
    fl_color(color());
    fl_rectf(x(), y(), w(), h());
    fl_font(font_.face, font_.size);
    fl_color(FL_FOREGROUND_COLOR);
    const TextLayout layout = LayOut(text_, w());  // left-aligned static text wraps words
    const int lineHeight = fl_height();
    // Only lines that fit wholly (the first always): a cut line's top would show as stray
    // marks just above the next control.
    const int lines = std::max(1, h() / lineHeight);
    for (const TextPiece& piece : layout.pieces) {
        if (piece.line >= lines) {
            continue;
        }
        fl_draw(piece.text.data(), static_cast<int>(piece.text.size()), x() + piece.x,
                y() + piece.line * lineHeight + lineHeight - fl_descent());
    }
    fl_pop_clip();
}

PushButton::PushButton(int x, int y, int width, int height, bool isDefault)
    : Fl_Button(x, y, width, height), isDefault_(isDefault) {
    labelsize(MapFont(nullptr).size);
}

int PushButton::handle(int event) {
    if (isDefault_ && event == FL_SHORTCUT &&
        (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter)) {
        do_callback();
        return 1;
    }
    return Fl_Button::handle(event);
}

EditBox::EditBox(int x, int y, int width, int height) : Fl_Text_Display(x, y, width, height) {
    buffer(&text_);
    color(FL_BACKGROUND_COLOR);  // read-only edit boxes have the dialog's colour
    const MappedFont font = MapFont(nullptr);
    textfont(font.face);
    textsize(font.size);
}

EditBox::~EditBox() {
    buffer(nullptr);
}

void EditBox::SetText(const std::string& text) {
    std::string lines = text;
    std::erase(lines, '\r');
    text_.text(lines.c_str());
}

void EditBox::SetFont(const MappedFont& font) {
    textfont(font.face);
    textsize(font.size);
    redraw();
}

}  // namespace platform::fltk
