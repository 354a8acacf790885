#include <gtest/gtest.h>

#include <string>

#include <platform/file.h>
#include "support/TempDir.h"

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

HANDLE OpenRead(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateReadWrite(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(PlatformFile, CreateAlwaysTruncatesAndOpenExistingNeedsTheFile) {
    TempDir dir;
    const std::string path = dir.File("a.bin");
    EXPECT_EQ(OpenRead(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    WriteBytes(path, {1, 2, 3, 4, 5});
    HANDLE file = CreateReadWrite(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(ReadBytes(path).empty());
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "xyz", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadBytes(path), (std::vector<uint8_t>{'x', 'y', 'z'}));
}

TEST(PlatformFile, TwoHandlesShareOneFile) {
    TempDir dir;
    const std::string path = dir.File("shared.bin");
    HANDLE writer = CreateReadWrite(path);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    HANDLE reader = OpenRead(path);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(writer, "hello", 5, &count, nullptr));
    char buffer[8] = {};
    ASSERT_TRUE(ReadFile(reader, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 5u);  // short read at the end is a success
    EXPECT_STREQ(buffer, "hello");
    // A read-only handle refuses writes.
    EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(CloseHandle(writer));
}

TEST(PlatformFile, SeekOrigins) {
    TempDir dir;
    const std::string path = dir.File("seek.bin");
    WriteBytes(path, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    HANDLE file = OpenRead(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    struct Case {
        LONG distance;
        DWORD method;
        DWORD expected;
    };
    const Case cases[] = {
        {3, FILE_BEGIN, 3},  {2, FILE_CURRENT, 5}, {0, FILE_CURRENT, 5},
        {-1, FILE_END, 9},   {0, FILE_END, 10},    {4, FILE_END, 14},
        {0, FILE_BEGIN, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetFilePointer(file, c.distance, nullptr, c.method), c.expected)
            << c.distance << " from " << c.method;
    }
    EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    uint8_t byte = 0xFF;
    DWORD count = 0;
    ASSERT_EQ(SetFilePointer(file, 7, nullptr, FILE_BEGIN), 7u);
    ASSERT_TRUE(ReadFile(file, &byte, 1, &count, nullptr));
    EXPECT_EQ(byte, 7);
    EXPECT_TRUE(CloseHandle(file));
}

TEST(PlatformFile, BadHandlesAreRefusedNotDereferenced) {
    TempDir dir;
    int local = 0;
    HANDLE bogus = &local;
    DWORD count = 99;
    char buffer[4];
    EXPECT_FALSE(ReadFile(bogus, buffer, 4, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(WriteFile(nullptr, buffer, 4, &count, nullptr));
    EXPECT_EQ(SetFilePointer(INVALID_HANDLE_VALUE, 0, nullptr, FILE_BEGIN),
              INVALID_SET_FILE_POINTER);
    EXPECT_FALSE(CloseHandle(bogus));

    HANDLE file = CreateReadWrite(dir.File("x"));
    ASSERT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));  // closing twice is refused
    // A directory is not a file.
    EXPECT_EQ(OpenRead(dir.Path().string()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenRead(""), INVALID_HANDLE_VALUE);
}

}  // namespace
