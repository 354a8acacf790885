#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/play/DeviceMatch.h"

namespace {

TEST(DeviceMatch, SelectionTable) {
    const std::string longQuery(40, 'q');
    struct Case {
        std::vector<std::string> names;
        const char* text;
        int32_t device;
    };
    const Case cases[] = {
        {{"SPEAKERS (A)", "LINE OUT"}, "out", 1},
        {{"OUT 12", "OUT 1"}, "out 1", 1},  // an exact name beats a longer one containing it
        {{"XAB", "AB CD"}, "ab", 1},        // a text that begins a name beats one contained
        {{"A", "B", "C"}, "2", 2},
        {{"A", "B", "3D SOUND"}, "3", 2},  // a number at or above the count is a name
        {{"A", "B"}, " 1", 1},             // leading blanks are read as part of a number
        {{"A", "B"}, "", 0},               // an empty text is the number 0
        {{}, "", -1},
        {{"A"}, "4294967296", -1},  // clamped as a 32-bit number, not wrapped to 0
        {{"A", std::string(31, 'Q')}, longQuery.c_str(), 1},  // the text is cut to 31 bytes
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchDevice(c.names, c.text), c.device) << '[' << c.text << ']';
    }
}

TEST(DeviceMatch, UpperCaseUtf8KeepsCharactersWhole) {
    struct Case {
        std::string text;
        std::string upper;
    };
    const Case cases[] = {
        {"Kopfhörer Straße", "KOPFHÖRER STRAßE"},            // ß has no one-letter capital
        {std::string(30, 'a') + "é", std::string(30, 'A')},  // É would be split
        {std::string(29, 'a') + "é", std::string(29, 'A') + "É"},
        {"\xFFok", "\xFFOK"},  // a stray byte passes unchanged
        // ɐ grows from two bytes to three (Ɐ): the text still ends within the bound.
        {"ɐ" + std::string(29, '\x9E'), "Ɐ" + std::string(28, '\x9E')},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UpperCaseUtf8(c.text.c_str(), 31), c.upper) << c.text;
    }
}

TEST(DeviceMatch, ListTextIsBoundedTo4096Bytes) {
    EXPECT_EQ(DeviceListText({"Test Sink", "Null Output"}),
              "Device list:\r\n0 - \"Test Sink\"\r\n1 - \"Null Output\"\r\n");
    EXPECT_EQ(DeviceListText(std::vector<std::string>(300, std::string(31, 'N'))).size(),
              kDeviceListBound - 1);
    // 102 devices with the longest names fit whole.
    const std::string whole = DeviceListText(std::vector<std::string>(102, std::string(31, 'N')));
    const std::string lastLine = "101 - \"" + std::string(31, 'N') + "\"\r\n";
    EXPECT_EQ(whole.substr(whole.size() - lastLine.size()), lastLine);
}

}  // namespace
