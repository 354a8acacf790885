// The device directory over a table of device names instead of the wave-output service.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <platform/resources.h>
#include "apps/play/DeviceDirectory.h"
#include "apps/play/ShellState.h"
#include "resources/Resources.h"
#include "support/RecordingDisplay.h"

namespace {

std::vector<std::string> names;
int failingDevice = -1;

UINT FakeCount() {
    return static_cast<UINT>(names.size());
}

MMRESULT FakeCaps(UINT_PTR device, WAVEOUTCAPSA* caps, UINT size) {
    if (size != sizeof(WAVEOUTCAPSA) || device >= names.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    if (static_cast<int>(device) == failingDevice) {
        return MMSYSERR_NODRIVER;  // the record stays as it was
    }
    std::memset(caps, 0, sizeof *caps);
    std::strncpy(caps->szPname, names[device].c_str(), sizeof caps->szPname - 1);
    return MMSYSERR_NOERROR;
}

const DeviceSource kFake = {FakeCount, FakeCaps};

// Matching uses upper-cased names, the list shows them as the service spells them; a device
// whose record fails is an empty name.
TEST(DeviceDirectory, MatchesUpperCasedNamesAndListsTheServicesSpelling) {
    testsupport::RecordingDisplay display;
    shell.appInstance = RegisterModuleResources(&QuindleResources());
    names = {"Speakers (A)", "Broken", "écouteurs ü", "Null Output"};
    failingDevice = 1;
    DeviceDirectory directory(kFake);
    ASSERT_EQ(directory.DeviceCount(), 4);
    EXPECT_EQ(directory.Capabilities(4), nullptr);
    struct Case {
        const char* text;
        int32_t device;
    };
    for (const Case& c : {Case{"écou", 2}, Case{"null", 3}, Case{"4", -1}, Case{nullptr, -1}}) {
        EXPECT_EQ(directory.FindDevice(c.text), c.device) << (c.text ? c.text : "(null)");
    }
    directory.ShowDeviceList(shell.appInstance, nullptr);
    ASSERT_EQ(display.modals.size(), 1u);
    ASSERT_EQ(display.modals[0].controls.size(), 2u);
    EXPECT_EQ(display.modals[0].controls[1].second,
              "Device list:\r\n0 - \"Speakers (A)\"\r\n1 - \"\"\r\n"
              "2 - \"écouteurs ü\"\r\n3 - \"Null Output\"\r\n");
    ASSERT_FALSE(display.fonts.empty());  // the list's fixed-pitch font comes last
    EXPECT_TRUE(display.fonts.back().second.fixedPitch);
    failingDevice = -1;
}

TEST(DeviceDirectory, ChooseDeviceShowsTheListOnlyWhenNothingMatches) {
    testsupport::RecordingDisplay display;
    shell.appInstance = RegisterModuleResources(&QuindleResources());
    EXPECT_EQ(ChooseDevice(nullptr, nullptr), -1);       // D without a value: no list
    EXPECT_GE(ChooseDevice("null output", nullptr), 0);  // the service always offers it
    EXPECT_TRUE(display.modals.empty());
    EXPECT_EQ(ChooseDevice("no such device here", nullptr), -1);
    EXPECT_EQ(display.modals.size(), 1u);
}

}  // namespace
