// Layout ids, product texts, preload comparisons and reordering, and the
// texts of the in-use check.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ime/layoutid.h"
#include "ime/winlist.h"

namespace {
std::string Hex(const char* s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p != 0; ++p) {
        out += digits[*p >> 4];
        out += digits[*p & 15];
    }
    return out;
}

std::string NewId(uint32_t highest, int codePage, int* result) {
    char id[16];
    *result = MakeNewLayoutId(highest, codePage, id, sizeof id);
    return id;
}

TEST(ImeLayoutId, NewIdsFollowTheHighestAndTheCodePage) {
    int result = -1;
    EXPECT_EQ(NewId(0, 936, &result), "E0010804");
    EXPECT_EQ(result, 2);
    EXPECT_EQ(NewId(0x00000804, 936, &result), "E0010804");
    EXPECT_EQ(NewId(0xE0000403, 936, &result), "E0010804");
    EXPECT_EQ(NewId(0, 950, &result), "E0010404");
    EXPECT_EQ(result, 2);
    EXPECT_EQ(NewId(0xE0010404, 950, &result), "E0020404");
    EXPECT_EQ(NewId(0xE00F0804, 936, &result), "E0100804");
    EXPECT_EQ(result, 2);
    // A highest id of another language: the new id gets the suffix forced.
    EXPECT_EQ(NewId(0xE0200411, 936, &result), "E0210804");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(NewId(0xE0200804, 950, &result), "E0210404");
    EXPECT_EQ(result, 0);
}

TEST(ImeLayoutId, SuffixIsForcedOnlyWhenWrong) {
    char id[16] = "e0050404";
    EXPECT_EQ(HasExpectedSuffix(id, 936), 0);
    EXPECT_EQ(HasExpectedSuffix(id, 950), 1);
    EXPECT_EQ(ForceExpectedSuffix(id, sizeof id, 950), 0);
    EXPECT_STREQ(id, "e0050404");
    EXPECT_EQ(ForceExpectedSuffix(id, sizeof id, 936), 1);
    EXPECT_STREQ(id, "e0050804");

    char shortId[16] = "4";
    EXPECT_EQ(ForceExpectedSuffix(shortId, sizeof shortId, 936), 1);
    EXPECT_STREQ(shortId, "804");
    // No room for the suffix: the id stays as it was.
    char tight[3] = "40";
    EXPECT_EQ(ForceExpectedSuffix(tight, sizeof tight, 936), 0);
    EXPECT_STREQ(tight, "40");
}

TEST(ImeLayoutId, NamesParseAsHexadecimal) {
    EXPECT_EQ(ParseLayoutId("E0010804"), 0xE0010804u);
    EXPECT_EQ(ParseLayoutId("e0010804"), 0xE0010804u);
    EXPECT_EQ(ParseLayoutId("00000409"), 0x409u);
    EXPECT_EQ(ParseLayoutId("0409x"), 0x409u);
    EXPECT_EQ(ParseLayoutId("layout"), 0u);
    EXPECT_EQ(ParseLayoutId("123456789"), 0xFFFFFFFFu);
}

TEST(ImeProductTexts, GbkAndBig5ByCodePage) {
    EXPECT_EQ(Hex(ProductMatchText(936)), "d6c7c4dcc4abb7a4cae4c8ebc6bdcca8");
    EXPECT_EQ(Hex(ProductMatchText(950)), "b4bcafe0bea5b5adbfe9a44aa5ada578");
    EXPECT_EQ(Hex(ProductLayoutText(936)), "d6c7c4dcc4abb7a4cae4c8ebc6bdcca82020372e39");
    EXPECT_EQ(Hex(ProductLayoutText(950)), "b4bcafe0bea5b5adbfe9a44aa5ada5782020372e39");
    EXPECT_STREQ(ExpectedLayoutSuffix(950), "404");
    EXPECT_STREQ(ExpectedLayoutSuffix(936), "804");
    EXPECT_STREQ(ExpectedLayoutSuffix(0), "804");

    char text[200] = {0};
    std::strcpy(text, ProductLayoutText(936));
    EXPECT_EQ(IsProductLayoutText(text, 936), 1);
    EXPECT_EQ(IsProductLayoutText(text, 950), 0);
    EXPECT_EQ(IsProductLayoutText(ProductLayoutText(950), 950), 1);
    // Only 15 of the 16 bytes: no match.
    text[15] = 0;
    EXPECT_EQ(IsProductLayoutText(text, 936), 0);

    // The preload detection looks at 12 GBK bytes under every code page.
    EXPECT_EQ(IsProductPreloadText(ProductLayoutText(936)), 1);
    EXPECT_EQ(IsProductPreloadText("\xd6\xc7\xc4\xdc\xc4\xab\xb7\xa4\xca\xe4\xc8\xeb"), 1);
    EXPECT_EQ(IsProductPreloadText("\xd6\xc7\xc4\xdc\xc4\xab\xb7\xa4\xca\xe4\xc8"), 0);
    EXPECT_EQ(IsProductPreloadText(ProductLayoutText(950)), 0);
}

TEST(ImePreloadCompare, PresentAndSameEntryIgnoreLetterCase) {
    const size_t cap = 200;
    EXPECT_EQ(ComparePreloadEntry("e0030804", cap, "e0030804"), kPreloadPresent);
    EXPECT_EQ(ComparePreloadEntry("E0030804", cap, "e0030804"), kPreloadPresent);
    EXPECT_EQ(ComparePreloadEntry("e0030804", cap, "E0030804"), kPreloadPresent);
    // Only the language differs: the same entry, to be overwritten.
    EXPECT_EQ(ComparePreloadEntry("E0030404", cap, "e0030804"), kPreloadSameEntry);
    EXPECT_EQ(ComparePreloadEntry("e0030411", cap, "E0030804"), kPreloadSameEntry);
    // A longer stored text is not the id, though its first characters are.
    EXPECT_EQ(ComparePreloadEntry("e00308041", cap, "e0030804"), kPreloadSameEntry);
    // Differences within the first five characters: another layout.
    EXPECT_EQ(ComparePreloadEntry("e0040804", cap, "e0030804"), kPreloadOther);
    EXPECT_EQ(ComparePreloadEntry("00000804", cap, "e0030804"), kPreloadOther);
    EXPECT_EQ(ComparePreloadEntry("", cap, "e0030804"), kPreloadOther);
    EXPECT_EQ(ComparePreloadEntry("e003", cap, "e0030804"), kPreloadOther);
    // The comparison reads no further than the stored buffer.
    const char unterminated[4] = {'e', '0', '0', '3'};
    EXPECT_EQ(ComparePreloadEntry(unterminated, sizeof unterminated, "e0030804"), kPreloadOther);

    char id[16] = "E0030804";
    FoldLayoutId(id, 0);
    EXPECT_STREQ(id, "e0030804");
    FoldLayoutId(id, 1);
    EXPECT_STREQ(id, "E0030804");
}

class ImePreloadPromote : public ::testing::Test {
protected:
    char ids[kPreloadSlots][kPreloadIdSize];
    void Fill(const char* const* names, int n) {
        std::memset(ids, '#', sizeof ids);
        for (int i = 0; i < n; ++i) std::strcpy(ids[i], names[i]);
    }
    std::string List(int n) const {
        std::string out;
        for (int i = 0; i < n; ++i) out += std::string(ids[i]) + (i + 1 < n ? "," : "");
        return out;
    }
};

TEST_F(ImePreloadPromote, ProductMovesToSecondPlace) {
    const char* five[] = {"A", "B", "C", "D", "P"};
    Fill(five, 5);
    EXPECT_EQ(PromoteListEntry(ids, 5, 5), 1);
    EXPECT_EQ(List(5), "A,P,B,C,D");
    EXPECT_EQ(ids[5][0], '#');  // nothing past the list is touched

    const char* three[] = {"00000804", "00000409", "e0030804"};
    Fill(three, 3);
    EXPECT_EQ(PromoteListEntry(ids, 3, 3), 1);
    EXPECT_EQ(List(3), "00000804,e0030804,00000409");

    const char* later[] = {"A", "B", "P", "C", "D"};
    Fill(later, 5);
    EXPECT_EQ(PromoteListEntry(ids, 5, 3), 1);
    EXPECT_EQ(List(5), "A,P,B,C,D");
}

TEST_F(ImePreloadPromote, NoChangeAtTheTopOrInShortLists) {
    const char* five[] = {"P", "A", "B", "C", "D"};
    Fill(five, 5);
    EXPECT_EQ(PromoteListEntry(ids, 5, 1), 0);
    EXPECT_EQ(PromoteListEntry(ids, 5, 2), 0);
    EXPECT_EQ(PromoteListEntry(ids, 5, 6), 0);  // beyond the list
    EXPECT_EQ(PromoteListEntry(ids, 2, 2), 0);
    EXPECT_EQ(PromoteListEntry(ids, 2, 3), 0);
    EXPECT_EQ(List(5), "P,A,B,C,D");
}

std::u16string Line(int number, const char16_t* title) {
    char16_t out[300];
    EXPECT_EQ(FormatWindowLine(out, 300, number, title), 1);
    return out;
}

const std::u16string kHeading2 = u"智能墨筏安装软件检测到有下列 2 个软件在使用智能墨筏输入法:\r\n\r\n";
const std::u16string kClosing = u"\r\n\r\n请关闭上述软件后再继续安装！\r\n如无法关闭，则请重新启动机器后立即安装！";

TEST(ImeInUseMessage, LinesAndMessageText) {
    EXPECT_EQ(Line(1, u"A"), u"　　1：A\r\n");
    EXPECT_EQ(Line(12, u""), u"　　12：\r\n");

    char16_t list[64] = {0};
    EXPECT_EQ(AppendWholeLine(list, 64, Line(1, u"A").c_str()), 1);
    EXPECT_EQ(AppendWholeLine(list, 64, Line(2, u"B").c_str()), 1);
    char16_t message[400];
    EXPECT_EQ(BuildInUseMessage(message, 400, 2, list), 1);
    EXPECT_EQ(std::u16string(message), kHeading2 + u"　　1：A\r\n　　2：B\r\n" + kClosing);

    // A line that does not fit is left out whole.
    char16_t small[12] = {0};
    EXPECT_EQ(AppendWholeLine(small, 12, u"　　1：A\r\n"), 1);
    EXPECT_EQ(AppendWholeLine(small, 12, u"　　2：B\r\n"), 0);
    EXPECT_EQ(std::u16string(small), u"　　1：A\r\n");
    char16_t line[6];
    EXPECT_EQ(FormatWindowLine(line, 6, 1, u"ABCDEF"), 0);
    EXPECT_EQ(line[0], 0);
}

TEST(ImeInUseMessage, ListIsCutAtALineEndToKeepTheClosingRequest) {
    std::u16string list = u"　　1：A\r\n　　2：BBBB\r\n　　3：C\r\n";
    size_t fixed = kHeading2.size() + kClosing.size();
    // Room for the first line and part of the second.
    size_t cap = fixed + 8 + 5 + 1;
    std::u16string out(cap + 8, u'#');
    EXPECT_EQ(BuildInUseMessage(&out[0], cap, 2, list.c_str()), 0);
    EXPECT_EQ(std::u16string(out.c_str()), kHeading2 + u"　　1：A\r\n" + kClosing);
    EXPECT_EQ(out[cap], u'#');

    // Exactly the whole list fits.
    cap = fixed + list.size() + 1;
    EXPECT_EQ(BuildInUseMessage(&out[0], cap, 2, list.c_str()), 1);
    EXPECT_EQ(std::u16string(out.c_str()), kHeading2 + list + kClosing);

    // Not even heading and closing request: nothing.
    EXPECT_EQ(BuildInUseMessage(&out[0], fixed, 2, list.c_str()), 0);
    EXPECT_EQ(out[0], 0);
}
}  // namespace

TEST(LayoutOrTipText, LanguageOfTheLayoutThenTheLayout) {
    char text[16];
    ASSERT_TRUE(LayoutOrTipText(0xE0200804u, text, sizeof text));
    EXPECT_STREQ(text, "0804:E0200804");
    ASSERT_TRUE(LayoutOrTipText(0xE0010404u, text, sizeof text));
    EXPECT_STREQ(text, "0404:E0010404");
    EXPECT_FALSE(LayoutOrTipText(0xE0200804u, text, 13));  // no room for the NUL
}
