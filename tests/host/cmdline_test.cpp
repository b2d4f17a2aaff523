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
    char dir_[200] = "";  // as large as the install directory's field
};

TEST_F(CommandLineTest, RunModeWordsAreWholeArguments) {
    // The companion's hand-over: "regmf32=" begins the first argument.
    ReadRunMode("regmf32=C:\\x\\ setmfsrf32");
    EXPECT_EQ(g_ctx.registerOnly, kRegisterOnly);
    EXPECT_EQ(g_ctx.runMode, kRunInteractive);

    ReadRunMode("/q setmfsrf32");
    EXPECT_EQ(g_ctx.registerOnly, 0);
    EXPECT_EQ(g_ctx.runMode, kRunSilent);

    // Paths and values that merely hold the words are paths and values.
    for (const char* line : {"/S \"/D=C:\\Apps\\regmf32\\\"", "/S /LOG=C:\\regmf32.log", "setmfsrf32 regmf32=C:\\x\\",
                             "/D=C:\\setmfsrf32\\", "/D=C:\\a setmfsrf32", "/DIR=C:\\setmfsrf32", "xsetmfsrf32",
                             "setmfsrf32x", "\"C:\\regmf32=\\\"", "x regmf32=C:\\x\\"}) {
        g_ctx.runMode = kRunInteractive;
        ReadRunMode(line);
        EXPECT_EQ(g_ctx.registerOnly, 0) << line;
        EXPECT_EQ(g_ctx.runMode, std::strncmp(line, "setmfsrf32 ", 11) == 0 ? kRunSilent : kRunInteractive) << line;
    }
    // Quoted, or led by blanks, it is still the word.
    g_ctx.runMode = kRunInteractive;
    ReadRunMode("  \"setmfsrf32\"");
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
    std::strcpy(dir_, "C:\\old\\");
    EXPECT_EQ(ParseRegisterArgument("regmf32=D:\\Program Files\\mofahu\\", dir_, sizeof dir_), 1);
    EXPECT_STREQ(dir_, "D:\\Program Files\\mofahu\\");

    EXPECT_EQ(ParseRegisterArgument("regmf32=", dir_, sizeof dir_), 1);
    EXPECT_STREQ(dir_, "");
}

TEST_F(CommandLineTest, RegisterArgumentIsTheFirstArgument) {
    std::strcpy(dir_, "C:\\old\\");
    EXPECT_EQ(ParseRegisterArgument("run regmf32=D:\\x\\", dir_, sizeof dir_), 0);
    EXPECT_STREQ(dir_, "C:\\old\\");
    // Case-sensitive, as the companion writes it.
    EXPECT_EQ(ParseRegisterArgument("REGMF32=D:\\x\\", dir_, sizeof dir_), 0);
    EXPECT_STREQ(dir_, "C:\\old\\");
    // Quotes and trailing blanks are not the directory's.
    EXPECT_EQ(ParseRegisterArgument(" regmf32=\"D:\\My Apps\\\"  ", dir_, sizeof dir_), 1);
    EXPECT_STREQ(dir_, "D:\\My Apps\\");
    EXPECT_EQ(ParseRegisterArgument("\"regmf32=D:\\My Apps\\\"", dir_, sizeof dir_), 1);
    EXPECT_STREQ(dir_, "D:\\My Apps\\");
    // Quoted as programs quote an argument that ends in a backslash.
    EXPECT_EQ(ParseRegisterArgument("\"regmf32=D:\\My Apps\\\\\"", dir_, sizeof dir_), 1);
    EXPECT_STREQ(dir_, "D:\\My Apps\\");
}

TEST_F(CommandLineTest, RegisterArgumentTooLongIsRefused) {
    std::strcpy(dir_, "C:\\old\\");
    std::string fits = "regmf32=" + std::string(199, 'a');
    std::string tooLong = "regmf32=" + std::string(200, 'a');
    EXPECT_EQ(ParseRegisterArgument(tooLong.c_str(), dir_, sizeof dir_), 0);
    EXPECT_STREQ(dir_, "C:\\old\\");
    EXPECT_EQ(ParseRegisterArgument(fits.c_str(), dir_, sizeof dir_), 1);
    EXPECT_EQ(std::strlen(dir_), 199u);
}

Switches Read(const char* line) {
    Switches s;
    std::memset(&s, 0x55, sizeof s);  // whatever was there before goes
    ReadSwitches(line, &s);
    return s;
}

TEST(SwitchesTest, SilentWordsInAnyCaseAndTheAcceptedOnes) {
    for (const char* line : {"/S", "/s", "/SILENT", "/VerySilent /SUPPRESSMSGBOXES /NORESTART", "/q", "/QUIET",
                             "-qn", "/sp- /nocancel /S", "/S /log=\"C:\\my logs\\a.log\""}) {
        Switches s = Read(line);
        EXPECT_TRUE(s.silent) << line;
        EXPECT_FALSE(s.help) << line;
        EXPECT_STREQ(s.unknown, "") << line;
        EXPECT_STREQ(s.dir, "") << line;
    }
    // Words without a lead are the run-mode words' business.
    Switches s = Read("setmfsrf32 regmf32=C:\\x");
    EXPECT_FALSE(s.silent);
    EXPECT_STREQ(s.unknown, "");
    EXPECT_FALSE(Read("/SUPPRESSMSGBOXES /NORESTART").silent);
}

TEST(SwitchesTest, HelpAndTheFirstUnknownSwitch) {
    for (const char* line : {"/?", "/h", "/HELP", "--help", "--HELP"}) EXPECT_TRUE(Read(line).help) << line;
    Switches s = Read("/S /bogus -x /Silentx");
    EXPECT_TRUE(s.silent);
    EXPECT_STREQ(s.unknown, "/bogus");
    // Near misses of known words, and bare leads.
    for (const char* line : {"/Silentx", "/SP", "/D", "/DIR", "/logx=a", "-", "/", "/help?"}) {
        EXPECT_STREQ(Read(line).unknown, line) << line;
    }
    // An overlong switch is named cut.
    std::string longWord = "/" + std::string(200, 'x');
    EXPECT_EQ(std::strlen(Read(longWord.c_str()).unknown), 63u);
}

// The sign-in entry's switch: its layout id, cut to the field; it is no
// silent word, nor does a /D= path that holds it name one.
TEST(SwitchesTest, SignInSwitchCarriesTheLayoutId) {
    Switches s = Read("/SIGNIN=E0200804");
    EXPECT_STREQ(s.signIn, "E0200804");
    EXPECT_FALSE(s.silent);
    EXPECT_STREQ(s.unknown, "");
    EXPECT_STREQ(Read("-signin=e0020804 /S").signIn, "e0020804");
    EXPECT_STREQ(Read("/SIGNIN=E0200804E0200804").signIn, "E0200804E02");
    EXPECT_STREQ(Read("/S \"/D=C:\\x /SIGNIN=1\"").signIn, "");
    EXPECT_STREQ(Read("/SIGNINX").unknown, "/SIGNINX");
    EXPECT_STREQ(Read("/S").signIn, "");
}

TEST(SwitchesTest, InstallDirectoryOfBothKinds) {
    // NSIS: the rest of the line, blanks and all.
    EXPECT_STREQ(Read("/S /D=C:\\My Apps\\Mofa  ").dir, "C:\\My Apps\\Mofa");
    EXPECT_FALSE(Read("/S /D=C:\\My Apps\\Mofa  ").dirNotLast);
    // Not last: a switch behind it (no name holds a "/").
    for (const char* line : {"/S /D=C:\\a /bogus", "/S /D=C:\\A\\ /NORESTART", "/D=C:\\a -norestart"}) {
        EXPECT_TRUE(Read(line).dirNotLast) << line;
        EXPECT_STREQ(Read(line).unknown, "") << line;
    }
    EXPECT_FALSE(Read("/D=C:\\a -b\\c").dirNotLast);
    // Quoted as a whole by the caller, a final backslash doubled before the
    // quote or not.
    EXPECT_STREQ(Read("/S \"/D=C:\\My Apps\\Mofa\"").dir, "C:\\My Apps\\Mofa");
    EXPECT_STREQ(Read("/S \"/D=C:\\My Apps\\Mofa\\\\\"").dir, "C:\\My Apps\\Mofa\\");
    EXPECT_STREQ(Read("/S \"/D=C:\\My Apps\\Mofa\\\"").dir, "C:\\My Apps\\Mofa\\");
    // Inno: quoted, anywhere.
    Switches s = Read("/DIR=\"C:\\My Apps\\Mofa\" /VERYSILENT");
    EXPECT_STREQ(s.dir, "C:\\My Apps\\Mofa");
    EXPECT_TRUE(s.silent);
    EXPECT_STREQ(Read("/dir=D:\\m").dir, "D:\\m");
}

std::string Normalized(const char* dir, DirVerdict want, size_t cap = 200) {
    char out[300] = "untouched";
    EXPECT_EQ(NormalizeInstallDir(dir, out, cap), want) << dir;
    return want == kDirUsable ? out : "";
}

TEST(SwitchesTest, InstallDirectoryMustBeAFullLocalPath) {
    EXPECT_EQ(Normalized("C:\\Apps\\Mofa", kDirUsable), "C:\\Apps\\Mofa\\");
    EXPECT_EQ(Normalized("d:/Apps/Mofa/", kDirUsable), "d:\\Apps\\Mofa\\");
    EXPECT_EQ(Normalized("C:\\My Apps\\.mofa\\v1.2", kDirUsable), "C:\\My Apps\\.mofa\\v1.2\\");
    for (const char* dir : {"Apps\\Mofa", "\\\\server\\share\\m", "\\Apps", "C:Apps", "C:\\", "1:\\x", "",
                            "C:\\Apps\\..\\Windows", "C:\\Apps\\.\\m", "C:\\Apps\\..", "C:\\a:b", "C:\\a*",
                            "C:\\a\"b", "C:\\a|b", "C:\\a\tb"})
        Normalized(dir, kDirNotAbsolute);
    // Windows would strip a name's trailing blank or dot: another folder.
    for (const char* dir : {"C:\\Apps \\Mofa", "C:\\Apps\\Mofa.", "C:\\Apps.\\Mofa", "C:\\Apps\\ \\m", "C:\\Apps\\...",
                            "C:\\Apps\\Mofa \\"})
        Normalized(dir, kDirBadFolderEnd);
    // A character the code page could not hold.
    std::string lost = std::string("C:\\Apps\\Nguy") + kNotInCodePage + "n";
    Normalized(lost.c_str(), kDirNotInCodePage);
    // With its final backslash, the directory must fit.
    std::string fits = "C:\\" + std::string(195, 'a');
    std::string over = "C:\\" + std::string(196, 'a');
    EXPECT_EQ(Normalized(fits.c_str(), kDirUsable).size(), 199u);
    Normalized(over.c_str(), kDirTooLong);
}
}  // namespace
