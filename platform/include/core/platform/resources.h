// Resources compiled into the program (string table, icons, dialog templates), attached to
// a module instance handle so that the usual loading calls find them.
#pragma once

#include <vector>

#include <platform/types.h>

#define MAKEINTRESOURCEA(id) \
    (reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<WORD>(id))))
#define IS_INTRESOURCE(p) ((reinterpret_cast<uintptr_t>(p) >> 16) == 0)
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)

struct ResourceString {
    UINT id;
    const char* text;
};

// A palette picture: one character per pixel, '0'-'9' and 'A'-'F' index the 16-colour
// palette (0x00RRGGBB), '.' is transparent.
struct ResourceIcon {
    UINT id;
    int width;
    int height;
    const uint32_t* palette;
    const char* const* rows;
};

// Dialog layout in dialog units, as an extended dialog template holds it.
struct ResourceDialogItem {
    const char* className;  // "BUTTON", "EDIT", "STATIC"
    int id;
    const char* text;
    short x, y, cx, cy;
    DWORD style;
};

struct ResourceDialog {
    UINT id;
    const char* title;
    short x, y, cx, cy;
    DWORD style;
    const char* fontName;
    WORD pointSize;
    WORD weight;
    BYTE italic;
    BYTE charset;
    const ResourceDialogItem* items;
    int itemCount;
};

struct ModuleResources {
    const ResourceString* strings;
    int stringCount;
    const ResourceIcon* icons;
    int iconCount;
    const ResourceDialog* dialogs;
    int dialogCount;
};

// Makes the resources the program's own: returns the module instance handle that finds them.
HINSTANCE RegisterModuleResources(const ModuleResources* resources);

// Copies string id into buffer (cut to size - 1 characters); returns its length, 0 if absent.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
// An icon handle for an integer resource id; null when the module has no such icon.
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
// The system cursors; only the arrow is known.
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);

namespace platform {
// For backends: the resources behind a handle, or null.
const ResourceIcon* FindIcon(HICON icon);
const ResourceDialog* FindDialog(HINSTANCE instance, LPCSTR name);
// The program's own icon, as a desktop shows it for the program: the first icon of the first
// module registered; null when there is none.
const ResourceIcon* ProgramIcon();
// The icon's pixels as 8-bit red, green, blue, alpha, row by row from the top; a transparent
// pixel is all zero.
std::vector<unsigned char> IconRgba(const ResourceIcon& icon);
}  // namespace platform

// Styles that dialog templates use.
#ifndef DS_MODALFRAME
#define DS_FIXEDSYS 0x0008L
#define DS_SETFONT 0x0040L
#define DS_MODALFRAME 0x0080L
#define BS_DEFPUSHBUTTON 0x0001L
#define ES_WANTRETURN 0x1000L
#define WS_VSCROLL 0x00200000L
#define WS_TABSTOP 0x00010000L
#endif
