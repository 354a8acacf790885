// The FLTK widgets that stand for windows: top-level windows, static text (tab stops as
// static text and message boxes have them), push buttons and the read-only edit box.
#pragma once

#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Widget.H>

#include <functional>
#include <string>

#include <platform/window.h>
#include "platform/window/Fonts.h"

namespace platform::fltk {

struct MappedFont {
    Fl_Font face;
    Fl_Fontsize size;
};

// The nearest FLTK font; null is the controls' default font.
MappedFont MapFont(const FontInfo* font);
// Width of a text in the mapped font, tabs at every eight average characters, and lines.
void Measure(const char* text, const MappedFont& font, int maxWidth, int* width, int* height);

// A top-level window; reports moves the user or the desktop make.
class TopWindow : public Fl_Double_Window {
  public:
    TopWindow(int x, int y, int width, int height, std::function<void(int, int, int, int)> moved);
    void resize(int x, int y, int width, int height) override;
    // Geometry changes that come from the program are not reported back.
    void ResizeQuietly(int x, int y, int width, int height);

  private:
    std::function<void(int, int, int, int)> moved_;
    bool quiet_ = false;
};

class StaticText : public Fl_Widget {
  public:
    StaticText(int x, int y, int width, int height);
    void SetText(const std::string& text);
    void SetFont(const MappedFont& font);
    void draw() override;

  private:
    std::string text_;
    MappedFont font_;
};

// A push button; the default one also answers Enter.
class PushButton : public Fl_Button {
  public:
    PushButton(int x, int y, int width, int height, bool isDefault);
    int handle(int event) override;

  private:
    const bool isDefault_;
};

// A multi-line read-only edit box with a vertical scroll bar.
class EditBox : public Fl_Text_Display {
  public:
    EditBox(int x, int y, int width, int height);
    ~EditBox() override;
    void SetText(const std::string& text);
    void SetFont(const MappedFont& font);

  private:
    Fl_Text_Buffer text_;
};

}  // namespace platform::fltk
