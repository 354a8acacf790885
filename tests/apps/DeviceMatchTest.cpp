#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/play/DeviceMatch.h"

namespace {

using Names = std::vector<std::string>;

TEST(DeviceMatch, SelectionTable) {
    const std::string longQuery(40, 'q');
    struct Case {
        Names names;
        const char* text;
        int32_t device;
    };
    const Case cases[] = {
        {{"SPEAKERS (A)", "LINE OUT"}, "line", 1},
        {{"SPEAKERS (A)", "LINE OUT"}, "out", 1},
        {{"SPEAKERS", "HEADPHONES"}, "e", 0},
        {{"OUT 1", "OUT 12"}, "out 1", 0},
        {{"OUT 12", "OUT 1"}, "out 1", 1},
        {{"ABX", "AB CD"}, "ab", 1},
        {{"XAB", "AB"}, "ab", 1},
        {{"A", "B", "C"}, "2", 2},
        {{"A", "B", "3D SOUND"}, "3", 2},  // a number at or above the count is a name
        {{"A", "-1 X"}, "-1", 1},
        {{"A", "2X"}, "2x", 1},
        {{"A", "B"}, " 1", 1},  // leading blanks are read as part of a number
        {{"A", "B"}, "", 0},    // an empty text is the number 0
        {{}, "", -1},
        {{"A", "B"}, "zzz", -1},
        {{"A"}, "4294967296", -1},  // clamped as a 32-bit number, not wrapped to 0
        {{"TEST SINK", "NULL OUTPUT"}, "test sink", 0},
        {{"TEST SINK", "NULL OUTPUT"}, "Null", 1},
        // The query is cut to 31 bytes before matching.
        {{"A", std::string(31, 'Q')}, longQuery.c_str(), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchDevice(c.names, c.text), c.device) << '[' << c.text << ']';
    }
}

TEST(DeviceMatch, UpperCaseUtf8KeepsCharactersWhole) {
    struct Case {
        std::string text;
        size_t maxBytes;
        std::string upper;
    };
    const Case cases[] = {
        {"Built-in Audio Analog Stereo", 31, "BUILT-IN AUDIO ANALOG STEREO"},
        {"Kopfhörer", 31, "KOPFHÖRER"},
        {"Haut-parleur éèà", 31, "HAUT-PARLEUR ÉÈÀ"},
        {"Straße", 31, "STRAßE"},                                // no single-character upper case
        {std::string(30, 'a') + "é", 31, std::string(30, 'A')},  // é would be split
        {std::string(29, 'a') + "é", 31, std::string(29, 'A') + "É"},
        {"Звук", 31, "ЗВУК"},
        {"\xFFok", 31, "\xFFOK"},  // a stray byte passes unchanged
        // ɐ grows from two bytes to three (Ɐ): the text still ends within the bound.
        {"ɐ" + std::string(29, 'x'), 31, "Ɐ" + std::string(28, 'X')},
        {"ɐ" + std::string(29, '\x9E'), 31, "Ɐ" + std::string(28, '\x9E')},
    };
    for (const Case& c : cases) {
        const std::string upper = UpperCaseUtf8(c.text.c_str(), c.maxBytes);
        EXPECT_EQ(upper, c.upper) << c.text;
        EXPECT_LE(upper.size(), c.maxBytes);
    }
}

TEST(DeviceMatch, ListTextIsBoundedTo4096Bytes) {
    EXPECT_EQ(DeviceListText({}), "Device list:\r\n");
    EXPECT_EQ(DeviceListText({"Test Sink", "Null Output"}),
              "Device list:\r\n0 - \"Test Sink\"\r\n1 - \"Null Output\"\r\n");
    Names many(300, std::string(31, 'N'));
    const std::string text = DeviceListText(many);
    EXPECT_EQ(text.size(), kDeviceListBound - 1);
    // 102 devices with the longest names fit whole.
    Names fitting(102, std::string(31, 'N'));
    const std::string whole = DeviceListText(fitting);
    EXPECT_LT(whole.size(), kDeviceListBound);
    const std::string lastLine = "101 - \"" + std::string(31, 'N') + "\"\r\n";
    EXPECT_EQ(whole.substr(whole.size() - lastLine.size()), lastLine);
}

}  // namespace
