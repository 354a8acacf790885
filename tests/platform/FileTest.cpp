#include <gtest/gtest.h>

#include <string>

#include <platform/file.h>
#include "support/TempDir.h"

namespace {

// A reader and a writer share one file; bad or closed handles are refused, not followed.
TEST(PlatformFile, SharedHandlesAndBadHandles) {
    testsupport::TempDir dir;
    const std::string path = dir.File("shared.bin");
    testsupport::WriteBytes(path, {1, 2, 3, 4, 5});
    HANDLE writer =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(writer, "hello", 5, &count, nullptr));
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(reader, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 5u) << "the old bytes were not truncated";
    EXPECT_STREQ(buffer, "hello");
    EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
    EXPECT_EQ(SetFilePointer(reader, -1, nullptr, FILE_END), 4u);
    EXPECT_EQ(SetFilePointer(reader, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_FALSE(CloseHandle(reader));
    count = 99;
    EXPECT_FALSE(ReadFile(reader, buffer, 4, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(writer));
}

}  // namespace
