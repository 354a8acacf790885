#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <platform/resources.h>
#include "resources/Resources.h"

namespace {

TEST(ModuleResources, StringsIconsAndDialogsAreFoundThroughTheModule) {
    HINSTANCE module = RegisterModuleResources(&QuindleResources());
    char buffer[100];
    EXPECT_EQ(LoadStringA(module, IDS_CLASS_NAME, buffer, sizeof buffer), 7);
    EXPECT_STREQ(buffer, "QUINDLE");
    EXPECT_EQ(LoadStringA(module, IDS_CLASS_NAME, buffer, 4), 3);  // cut to the buffer
    EXPECT_STREQ(buffer, "QUI");
    EXPECT_EQ(LoadStringA(module, 999, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(LoadStringA(nullptr, IDS_CLASS_NAME, buffer, sizeof buffer), 0);

    HICON icon = LoadIconA(module, MAKEINTRESOURCEA(IDI_QUINDLE));
    ASSERT_NE(icon, nullptr);
    const ResourceIcon* picture = platform::FindIcon(icon);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width, 32);
    EXPECT_EQ(picture->height, 32);
    for (int row = 0; row < 32; ++row) {
        ASSERT_EQ(std::strlen(picture->rows[row]), 32u) << row;
        for (const char* pixel = picture->rows[row]; *pixel != '\0'; ++pixel) {
            EXPECT_NE(std::strchr(".0123456789ABCDEF", *pixel), nullptr) << row;
        }
    }
    EXPECT_EQ(LoadIconA(module, MAKEINTRESOURCEA(IDI_QUINDLE_SMALL)), nullptr);
    EXPECT_EQ(platform::FindIcon(reinterpret_cast<HICON>(buffer)), nullptr);
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);

    const ResourceDialog* dialog = platform::FindDialog(module, MAKEINTRESOURCEA(IDD_DEVICE_LIST));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->cx, 309);
    EXPECT_EQ(dialog->cy, 253);
    ASSERT_EQ(dialog->itemCount, 2);
    EXPECT_EQ(dialog->items[0].id, 1);
    EXPECT_EQ(dialog->items[1].id, IDC_DEVICE_LIST_TEXT);
    EXPECT_EQ(platform::FindDialog(module, MAKEINTRESOURCEA(132)), nullptr);
}

}  // namespace
