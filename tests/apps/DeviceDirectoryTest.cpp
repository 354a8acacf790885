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

using testsupport::RecordingDisplay;

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

class DeviceDirectoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        failingDevice = -1;
        shell.appInstance = RegisterModuleResources(&QuindleResources());
    }
    // The list text and the edit box's font, as the dialog got them.
    std::string ShowList(DeviceDirectory& directory) {
        display_.modals.clear();
        display_.fonts.clear();
        directory.ShowDeviceList(shell.appInstance, nullptr);
        EXPECT_EQ(display_.modals.size(), 1u);
        if (display_.modals.empty() || display_.modals[0].controls.size() != 2) {
            return "";
        }
        return display_.modals[0].controls[1].second;
    }
    RecordingDisplay display_;
};

TEST_F(DeviceDirectoryTest, NamesAreUpperCasedForMatchingAndListedAsTheServiceSpellsThem) {
    names = {"Speakers (A)", "Line Out", "écouteurs ü", "Null Output"};
    failingDevice = -1;
    DeviceDirectory directory(kFake);
    ASSERT_EQ(directory.DeviceCount(), 4);
    EXPECT_STREQ(directory.Capabilities(0)->szPname, "SPEAKERS (A)");
    EXPECT_STREQ(directory.Capabilities(2)->szPname, "ÉCOUTEURS Ü");
    EXPECT_EQ(directory.Capabilities(4), nullptr);

    struct Case {
        const char* text;
        int32_t device;
    };
    const Case cases[] = {{"line", 1}, {"out", 1}, {"2", 2},    {"ÉCOU", 2},  {"écou", 2},
                          {"null", 3}, {"4", -1},  {"zzz", -1}, {nullptr, -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(directory.FindDevice(c.text), c.device) << (c.text ? c.text : "(null)");
    }

    EXPECT_EQ(ShowList(directory),
              "Device list:\r\n0 - \"Speakers (A)\"\r\n1 - \"Line Out\"\r\n"
              "2 - \"écouteurs ü\"\r\n3 - \"Null Output\"\r\n");
    // The edit box gets the fixed-pitch list font after the dialog's own font.
    ASSERT_FALSE(display_.fonts.empty());
    const platform::FontInfo& font = display_.fonts.back().second;
    EXPECT_EQ(font.faceName, "Courier New");
    EXPECT_EQ(font.height, 16);
    EXPECT_EQ(font.width, 8);
    EXPECT_TRUE(font.fixedPitch);
}

TEST_F(DeviceDirectoryTest, NoDevicesAFailingDeviceAndTheBoundOfTheList) {
    names.clear();
    {
        DeviceDirectory none(kFake);
        EXPECT_EQ(none.DeviceCount(), 0);
        EXPECT_EQ(none.FindDevice(""), -1);
        EXPECT_EQ(none.FindDevice("0"), -1);
        EXPECT_EQ(ShowList(none), "Device list:\r\n");
    }
    names = {"First", "Broken", "Third"};
    failingDevice = 1;
    {
        DeviceDirectory directory(kFake);
        EXPECT_STREQ(directory.Capabilities(1)->szPname, "");
        EXPECT_EQ(directory.FindDevice("third"), 2);
        EXPECT_EQ(directory.FindDevice(""), 0);  // an empty text is the number 0
        EXPECT_EQ(ShowList(directory),
                  "Device list:\r\n0 - \"First\"\r\n1 - \"\"\r\n2 - \"Third\"\r\n");
    }
    failingDevice = -1;
    names.assign(150, std::string(31, 'N'));
    {
        DeviceDirectory many(kFake);
        const std::string text = ShowList(many);
        EXPECT_EQ(text.size(), 4095u);  // 4096 with the terminator
        EXPECT_EQ(text.rfind("Device list:\r\n0 - \"NNN", 0), 0u);
    }
}

TEST_F(DeviceDirectoryTest, ChooseDeviceShowsTheListOnlyWhenNothingMatches) {
    EXPECT_EQ(ChooseDevice(nullptr, nullptr), -1);  // D without a value: no list
    EXPECT_TRUE(display_.modals.empty());
    const int32_t nullOutput = ChooseDevice("null output", nullptr);
    EXPECT_GE(nullOutput, 0);  // the service always offers it
    EXPECT_TRUE(display_.modals.empty());
    EXPECT_EQ(ChooseDevice("no such device here", nullptr), -1);
    ASSERT_EQ(display_.modals.size(), 1u);
    EXPECT_EQ(display_.modals[0].kind, platform::ModalKind::Dialog);
}

}  // namespace
