#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/cmdline.h"
#include "base/context.h"
#include "base/text.h"

namespace {
class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSetupContext();
        g_ctx.runMode = kRunInteractive;
    }
};

TEST_F(CommandLineTest, RegisterWordWinsOverSilentWord) {
    ReadRunMode("setmfsrf32 regmf32=C:\\x\\");
    EXPECT_EQ(g_ctx.registerOnly, kRegisterOnly);
    EXPECT_EQ(g_ctx.runMode, kRunInteractive);

    ReadRunMode("/q setmfsrf32");
    EXPECT_EQ(g_ctx.registerOnly, 0);
    EXPECT_EQ(g_ctx.runMode, kRunSilent);
}

TEST_F(CommandLineTest, WordsFoldOnlyTheCommandLinesCapitals) {
    ReadRunMode("SETMFSRF32");
    EXPECT_EQ(g_ctx.runMode, kRunSilent);

    g_ctx.runMode = kRunInteractive;
    ReadRunMode("");
    EXPECT_EQ(g_ctx.runMode, kRunInteractive);
    EXPECT_EQ(g_ctx.registerOnly, 0);

    EXPECT_EQ(ContainsText("ABC", "abc"), 1);
    EXPECT_EQ(ContainsText("abc", "ABC"), 0);
    EXPECT_EQ(ContainsText("xABCx", "ABC"), 1);
    EXPECT_EQ(ContainsText("abc", ""), 1);
    EXPECT_EQ(ContainsText("", ""), 0);
    EXPECT_EQ(ContainsText("regmf3", "regmf32"), 0);
}

TEST_F(CommandLineTest, RegisterArgumentCopiesTheRestOfTheLine) {
    std::strcpy(g_ctx.installDir, "C:\\old\\");
    EXPECT_EQ(ParseRegisterArgument("regmf32=D:\\Program Files\\mofahu\\"), 1);
    EXPECT_STREQ(g_ctx.installDir, "D:\\Program Files\\mofahu\\");

    EXPECT_EQ(ParseRegisterArgument("regmf32="), 1);
    EXPECT_STREQ(g_ctx.installDir, "");
}

TEST_F(CommandLineTest, RegisterArgumentTriesOnlyTheFirstR) {
    std::strcpy(g_ctx.installDir, "C:\\old\\");
    // The first "r" is in "run", so "regmf32=" is never looked at.
    EXPECT_EQ(ParseRegisterArgument("run regmf32=D:\\x\\"), 0);
    EXPECT_STREQ(g_ctx.installDir, "C:\\old\\");
    // Case-sensitive.
    EXPECT_EQ(ParseRegisterArgument("REGMF32=D:\\x\\"), 0);
    EXPECT_STREQ(g_ctx.installDir, "C:\\old\\");
}

TEST_F(CommandLineTest, RegisterArgumentTooLongIsRefused) {
    std::strcpy(g_ctx.installDir, "C:\\old\\");
    std::string fits = "regmf32=" + std::string(199, 'a');
    std::string tooLong = "regmf32=" + std::string(200, 'a');
    EXPECT_EQ(ParseRegisterArgument(tooLong.c_str()), 0);
    EXPECT_STREQ(g_ctx.installDir, "C:\\old\\");
    EXPECT_EQ(ParseRegisterArgument(fits.c_str()), 1);
    EXPECT_EQ(std::strlen(g_ctx.installDir), 199u);
}
}  // namespace
