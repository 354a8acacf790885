#include <gtest/gtest.h>

#include <cstring>

#include "platform/waveout/DeviceList.h"
#include "platform/waveout/alsa/AlsaBackend.h"

namespace {

using platform::AlsaDevice;

TEST(AlsaDevices, OnePerPlaybackPcmInCardAndDeviceOrderWithNamesThatCutCleanly) {
    const std::vector<AlsaDevice> devices = platform::AlsaPlaybackDevices({
        {2, "Scarlett 18i20", {{3, "Out 7-8"}, {0, "Out 1-2"}}},
        {3, "USB Mic", {}},
        {1, "", {{4, ""}}},
        {0, "HDA NVidia", {{9, "HDMI 3"}, {7, "HDMI 1"}}},
    });
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"HDA NVidia: HDMI 1", "plughw:0,7"},      {"HDA NVidia: HDMI 3", "plughw:0,9"},
        {"Card 1: Device 4", "plughw:1,4"},        {"Scarlett 18i20: Out 1-2", "plughw:2,0"},
        {"Scarlett 18i20: Out 7-8", "plughw:2,3"},
    };
    ASSERT_EQ(devices.size(), expected.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].name, expected[i].first);
        EXPECT_EQ(devices[i].target, expected[i].second);
    }
    // Names are cut to 31 bytes for szPname, never inside a UTF-8 character.
    const std::pair<std::string, std::string> cases[] = {
        {"Карта: Выход на колонки", "Карта: Выход на к"},  // "о" would end at byte 32
        {"Audio 🎧🎧🎧🎧🎧🎧🎧: Main", "Audio 🎧🎧🎧🎧🎧🎧"},
        {"A very long card name here: and a long PCM", "A very long card name here: and"},
        {"", ""},
    };
    for (const auto& [full, cut] : cases) {
        char name[32];
        std::memset(name, 0x55, sizeof name);
        platform::CopyDeviceName(full, name);
        EXPECT_EQ(std::string(name), cut);
    }
}

}  // namespace
