#include <gtest/gtest.h>

#include <platform/resources.h>
#include "resources/Resources.h"

namespace {

TEST(ModuleResources, StringsIconsAndDialogsAreFoundThroughTheModule) {
    HINSTANCE module = RegisterModuleResources(&QuindleResources());
    char buffer[4];
    EXPECT_EQ(LoadStringA(module, IDS_CLASS_NAME, buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "QUI") << "cut to the buffer";
    EXPECT_EQ(LoadStringA(module, 999, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_NE(platform::FindIcon(LoadIconA(module, MAKEINTRESOURCEA(IDI_QUINDLE))), nullptr);
    const ResourceDialog* dialog = platform::FindDialog(module, MAKEINTRESOURCEA(IDD_DEVICE_LIST));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->items[1].id, IDC_DEVICE_LIST_TEXT);
    EXPECT_EQ(platform::FindDialog(module, MAKEINTRESOURCEA(132)), nullptr);
}

}  // namespace
