// Turning the text of option D into a device number, and the text of the device list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Upper-cases a UTF-8 text character by character (any language's letters, not only ASCII)
// and cuts it to at most maxBytes without splitting a character. A character whose upper
// case would not fit stays as it is.
std::string UpperCaseUtf8(const char* text, size_t maxBytes);

// The device for a text: a number below the device count, else the best name match among
// the upper-cased names (prefix before substring; a whole-name, then a whole-word match,
// then the lowest number). -1 when nothing matches.
int32_t MatchDevice(const std::vector<std::string>& upperNames, const char* text);

// "Device list:\r\n" and one line "%d - \"%s\"\r\n" per device, bounded to 4096 bytes with
// the terminator; a line that does not fit is cut at the bound (at a character boundary).
std::string DeviceListText(const std::vector<std::string>& names);
inline constexpr size_t kDeviceListBound = 4096;
