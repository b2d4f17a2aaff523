// The install log: UTF-8 lines with their time, and a file that keeps its
// newer half once it passes 1 MB.
#include <gtest/gtest.h>

#include <string>

#include "base/failure.h"
#include "base/log.h"
#include "support/winsupport.h"

namespace {
TEST(InstallLog, LinesAreUtf8AndTheFileKeepsItsNewerHalfPastOneMegabyte) {
    const std::string path = ScratchDir("log") + "setup.log";
    ASSERT_EQ(OpenLog(path.c_str()), 1);
    Log("path %s", "C:\\智能墨筏\\");
    LogW("message: ", u"安装完毕");
    std::string text = ReadBytes(path);
    // "2026-12-08 14:03:22.123 " before each text; GBK and UTF-16 alike in UTF-8.
    EXPECT_NE(text.find(" path C:\\\xE6\x99\xBA\xE8\x83\xBD\xE5\xA2\xA8\xE7\xAD\x8F\\\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" message: \xE5\xAE\x89\xE8\xA3\x85\xE5\xAE\x8C\xE6\xAF\x95\r\n"), std::string::npos) << text;
    ASSERT_GT(text.size(), 24u);
    EXPECT_EQ(text[4], '-');
    EXPECT_EQ(text[23], ' ');

    for (int i = 0; i < 1200; ++i) Log("line %05d %s", i, std::string(1000, 'x').c_str());
    text = ReadBytes(path);
    EXPECT_LE(text.size(), static_cast<size_t>(kLogLimit));
    EXPECT_GE(text.size(), static_cast<size_t>(kLogLimit) / 2 - 200);
    EXPECT_NE(text.find("line 01199 "), std::string::npos);  // the newest line is kept
    EXPECT_EQ(text.find("line 00000 "), std::string::npos);  // the oldest ones went
    EXPECT_EQ(text.compare(4, 1, "-"), 0);                     // it starts at a whole line
    CloseLog();

    // A log that cannot be opened where it was sent goes to the default
    // place, and says first why.
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    const std::string fallback = std::string(temp) + "mofasetup.log";
    DeleteFileA(fallback.c_str());
    EXPECT_EQ(OpenLog("C:\\no\\such\\folder\\setup.log"), 1);
    EXPECT_EQ(std::string(LogPath()), fallback);
    Log("goes to the default place");
    CloseLog();
    text = ReadBytes(fallback);
    EXPECT_NE(text.substr(0, text.find("\r\n")).find("---- log opened here, not at C:\\no\\such\\folder\\setup.log: error 3 ("),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" goes to the default place\r\n"), std::string::npos);
}

// A line the same as the one before is not written again; the same text
// after another line is. The system's error texts come as one line.
TEST(InstallLog, RepeatsAreDroppedAndErrorTextsAreOneLine) {
    const std::string path = ScratchDir("logrepeat") + "setup.log";
    ASSERT_EQ(OpenLog(path.c_str()), 1);
    for (int i = 0; i < 3; ++i) Log("undo: file removed: %s", "C:\\x");
    Log("step %s: done", "x");
    Log("undo: file removed: %s", "C:\\x");
    std::string text = ReadBytes(path);
    size_t count = 0;
    for (size_t at = text.find("undo: file removed"); at != std::string::npos; at = text.find("undo: file removed", at + 1))
        ++count;
    EXPECT_EQ(count, 2u) << text;
    CloseLog();

    char error[256] = "x";
    SystemErrorText(5, error, sizeof error);
    std::string meaning = error;
    EXPECT_FALSE(meaning.empty());
    EXPECT_EQ(meaning.find_first_of("\r\n"), std::string::npos) << meaning;
    EXPECT_NE(meaning.back(), '.') << meaning;
    SystemErrorText(5, error, 4);  // a text that does not fit is none
    EXPECT_STREQ(error, "");
}
}  // namespace
