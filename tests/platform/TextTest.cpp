#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(TextCodec, NamesOutsideGb2312SurviveTheRoundTrip) {
    const wchar_t* names[] = {L"Été à Noël — façade.jpg", L"Пример файла.docx", L"日本語のファイル名.txt",
                              L"中文名字.png", L"party 🎉 photo.jpeg", L"plain.txt", L""};
    for (const wchar_t* name : names) {
        std::string narrow = Unicode2Ansi(name);
        EXPECT_EQ(std::wstring(name), Ansi2Unicode(narrow.c_str())) << narrow;
    }
}

TEST(TextCodec, Gb2312CharactersKeepTheirBytes) {
    // 中 is D6 D0 in GB2312; GB18030 must give the same bytes.
    EXPECT_EQ(std::string("\xD6\xD0"), Unicode2Ansi(L"中"));
    EXPECT_EQ(std::wstring(L"中文"), Ansi2Unicode("\xD6\xD0\xCE\xC4"));
}

TEST(TextCodec, NarrowingIsCutAtACharacterBoundary) {
    char buf[6];
    std::memset(buf, 'Z', sizeof buf);
    // "ab" + 中 (2 bytes) + 🎉 (4 bytes): 5 bytes room leaves "ab中".
    EXPECT_EQ(0, Unicode2Ansi(L"ab中🎉", buf, sizeof buf));
    EXPECT_STREQ("ab\xD6\xD0", buf);
    char tiny[3];
    Unicode2Ansi(L"中中", tiny, sizeof tiny);
    EXPECT_STREQ("\xD6\xD0", tiny);
    char one[2];
    Unicode2Ansi(L"中", one, sizeof one);
    EXPECT_STREQ("", one) << "half a character is never written";
}

TEST(TextCodec, WideningIsBoundedAndReplacesBrokenBytes) {
    wchar_t out[4];
    EXPECT_EQ(0, Ansi2Unicode("abcdef", out, 4));
    EXPECT_EQ(std::wstring(L"abc"), out);
    std::wstring broken = Ansi2Unicode("a\xFF" "b");
    ASSERT_EQ(3u, broken.size());
    EXPECT_EQ(L'a', broken[0]);
    EXPECT_EQ(wchar_t(0xFFFD), broken[1]);
    EXPECT_EQ(L'b', broken[2]);
    EXPECT_EQ(std::wstring(L"x\xFFFD"), Ansi2Unicode("x\xD6")) << "a truncated pair is replaced, not dropped";
}

TEST(TextCodec, Utf16AndUtf8Conversions) {
    const uint8_t utf16[] = {'A', 0, 0x2D, 0x4E, 0x3C, 0xD8, 0x89, 0xDF, 0x00, 0xD8}; // A 中 🎉 and a lone surrogate
    std::wstring w = Utf16leToWide(utf16, 5);
    ASSERT_EQ(4u, w.size());
    EXPECT_EQ(std::wstring(L"A中🎉"), w.substr(0, 3));
    EXPECT_EQ(wchar_t(0xFFFD), w[3]);
    char narrow[16];
    Utf16leToAnsi(utf16, 2, narrow, sizeof narrow);
    EXPECT_STREQ("A\xD6\xD0", narrow);
    EXPECT_EQ(std::string("caf\xC3\xA9 \xF0\x9F\x8E\x89"), WideToUtf8(L"café 🎉"));
    EXPECT_EQ(std::wstring(L"café 🎉"), Utf8ToWide("caf\xC3\xA9 \xF0\x9F\x8E\x89"));
    EXPECT_EQ(0, inner_initUnicodeMap("UTF-8"));
}

TEST(TextHelpers, CaseAndBlanks) {
    char s[] = "ABC.Jpg-Ü";
    EXPECT_STREQ("abc.jpg-Ü", GetCharLowerA(s));
    wchar_t w[] = L"MiXeD É";
    EXPECT_STREQ(L"mixed É", GetCharLowerW(w));
    char t[] = "README";
    EXPECT_EQ(6, Convert2Lowercase(t));
    EXPECT_STREQ("readme", t);
    char name[] = "FOO     ";
    EraseStringTailBlankChar(name, 8);
    EXPECT_STREQ("FOO", name);
    char blanks[] = "   ";
    EraseStringTailBlankChar(blanks, 3);
    EXPECT_STREQ("", blanks);
    char inner[] = "A B ";
    EraseStringTailBlankChar(inner, 4);
    EXPECT_STREQ("A B", inner);
}

