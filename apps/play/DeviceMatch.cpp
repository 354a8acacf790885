#include "apps/play/DeviceMatch.h"

#include <locale.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwctype>

namespace {

locale_t Utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

// Bytes of the UTF-8 character that starts with lead (1 for a stray byte).
size_t CharLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) {
        return 4;
    }
    if (lead >= 0xE0) {
        return lead < 0xF0 ? 3 : 1;
    }
    if (lead >= 0xC0) {
        return 2;
    }
    return 1;
}

// Length of the longest prefix of text that is at most maxBytes and ends on a boundary.
size_t CutAtBoundary(const char* text, size_t maxBytes) {
    size_t at = 0;
    while (text[at] != '\0') {
        size_t length = CharLength(static_cast<unsigned char>(text[at]));
        for (size_t i = 1; i < length; ++i) {
            if (text[at + i] == '\0') {
                length = i;  // truncated sequence: take what is there
                break;
            }
        }
        if (at + length > maxBytes) {
            break;
        }
        at += length;
    }
    return at;
}

// The code point of one whole UTF-8 sequence, or 0 when it is malformed.
char32_t DecodeUtf8(const std::string& bytes) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    const size_t length = bytes.size();
    if (length != CharLength(lead) || length < 2) {
        return 0;
    }
    char32_t code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (next & 0x3F);
    }
    return code;
}

std::string EncodeUtf8(char32_t code) {
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

}  // namespace

std::string UpperCaseUtf8(const char* text, size_t maxBytes) {
    std::string upper;
    if (text == nullptr) {
        return upper;
    }
    const locale_t locale = Utf8Locale();
    const size_t length = CutAtBoundary(text, maxBytes);
    size_t at = 0;
    while (at < length) {
        const size_t charLength = CharLength(static_cast<unsigned char>(text[at]));
        const size_t take = at + charLength <= length ? charLength : length - at;
        std::string original(text + at, take);
        std::string replacement = original;
        if (take == 1) {
            const char c = text[at];
            if (c >= 'a' && c <= 'z') {
                replacement[0] = static_cast<char>(c - 'a' + 'A');
            }
        } else if (locale != static_cast<locale_t>(0)) {
            const char32_t wide = DecodeUtf8(original);
            if (wide != 0) {
                const auto upperWide =
                    static_cast<char32_t>(towupper_l(static_cast<wint_t>(wide), locale));
                replacement = EncodeUtf8(upperWide);
            }
        }
        if (upper.size() + replacement.size() > maxBytes) {
            replacement = original;
        }
        if (upper.size() + replacement.size() > maxBytes) {
            break;  // earlier characters grew: what is left no longer fits
        }
        upper += replacement;
        at += take;
    }
    return upper;
}

int32_t MatchDevice(const std::vector<std::string>& upperNames, const char* text) {
    if (text == nullptr) {
        return -1;
    }
    const auto count = static_cast<uint32_t>(upperNames.size());

    // A number that is the whole text and below the count is a device number.
    char* end = nullptr;
    long long number = std::strtoll(text, &end, 10);
    number = number > INT32_MAX ? INT32_MAX : (number < INT32_MIN ? INT32_MIN : number);
    if (*end == '\0' && static_cast<uint32_t>(number) < count) {
        return static_cast<int32_t>(number);
    }

    const std::string query = UpperCaseUtf8(text, 31);
    const size_t length = query.size();
    std::vector<std::pair<uint32_t, size_t>> candidates;  // device, match position
    for (uint32_t i = 0; i < count; ++i) {
        if (upperNames[i].compare(0, length, query) == 0) {
            candidates.emplace_back(i, 0);
        }
    }
    if (candidates.empty()) {
        for (uint32_t i = 0; i < count; ++i) {
            const size_t at = upperNames[i].find(query);
            if (at != std::string::npos) {
                candidates.emplace_back(i, at);
            }
        }
    }
    if (candidates.empty()) {
        return -1;
    }
    for (auto [device, at] : candidates) {  // the match reaches the end of the name
        if (at + length == upperNames[device].size()) {
            return static_cast<int32_t>(device);
        }
    }
    for (auto [device, at] : candidates) {  // the match is followed by a blank
        if (upperNames[device][at + length] == ' ') {
            return static_cast<int32_t>(device);
        }
    }
    return static_cast<int32_t>(candidates.front().first);
}

std::string DeviceListText(const std::vector<std::string>& names) {
    std::string text = "Device list:\r\n";
    for (size_t i = 0; i < names.size(); ++i) {
        text += std::to_string(i) + " - \"" + names[i] + "\"\r\n";
        if (text.size() >= kDeviceListBound - 1) {
            break;
        }
    }
    if (text.size() > kDeviceListBound - 1) {
        text.resize(CutAtBoundary(text.c_str(), kDeviceListBound - 1));
    }
    return text;
}
