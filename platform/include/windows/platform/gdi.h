// Fonts for controls (WM_SETFONT). A font is a description that the display maps to the
// nearest font it has; a face it does not have falls back by pitch.
#pragma once

#include <platform/types.h>

#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_BOLD 700
#define ANSI_CHARSET 0
#define DEFAULT_CHARSET 1
#define OUT_DEFAULT_PRECIS 0
#define CLIP_DEFAULT_PRECIS 0
#define DEFAULT_QUALITY 0
#define DEFAULT_PITCH 0
#define FIXED_PITCH 1
#define VARIABLE_PITCH 2

// height > 0: cell height in pixels; height < 0: character height; 0: the default size.
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCSTR faceName);
// Releases a font; false for an unknown object.
BOOL DeleteObject(HGDIOBJ object);
