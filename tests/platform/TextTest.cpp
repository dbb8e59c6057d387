#include "platform/TextCodec.h"
#include "platform/TextHelpers.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(TextCodec, RoundTripsAndGb2312Bytes) {
    for (const wchar_t* name : {L"Été à Noël — façade.jpg", L"Пример файла.docx", L"日本語のファイル名.txt", L"中文名字.png",
                                L"party 🎉 photo.jpeg", L""})
        EXPECT_EQ(std::wstring(name), Ansi2Unicode(Unicode2Ansi(name).c_str())) << Unicode2Ansi(name);
    EXPECT_EQ(std::string("\xD6\xD0"), Unicode2Ansi(L"中")) << "GB2312 characters keep their bytes";
    EXPECT_EQ(std::wstring(L"中文"), Ansi2Unicode("\xD6\xD0\xCE\xC4"));
    EXPECT_EQ(std::string("caf\xC3\xA9 \xF0\x9F\x8E\x89"), WideToUtf8(L"café 🎉"));
    EXPECT_EQ(std::wstring(L"café 🎉"), Utf8ToWide("caf\xC3\xA9 \xF0\x9F\x8E\x89"));
}

TEST(TextCodec, BoundedConversionsNeverSplitACharacter) {
    char buf[6];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(0, Unicode2Ansi(L"ab中🎉", buf, sizeof buf)); // 🎉 takes 4 bytes: no room
    EXPECT_STREQ("ab\xD6\xD0", buf);
    char one[2];
    Unicode2Ansi(L"中", one, sizeof one);
    EXPECT_STREQ("", one) << "half a character is never written";
    wchar_t out[4];
    EXPECT_EQ(0, Ansi2Unicode("abcdef", out, 4));
    EXPECT_EQ(std::wstring(L"abc"), out);
    EXPECT_EQ(std::wstring(L"a\xFFFD" L"b"), Ansi2Unicode("a\xFF" "b")) << "broken bytes are replaced";
    EXPECT_EQ(std::wstring(L"x\xFFFD"), Ansi2Unicode("x\xD6")) << "a truncated pair is replaced, not dropped";

    const uint8_t utf16[] = {'A', 0, 0x2D, 0x4E, 0x3C, 0xD8, 0x89, 0xDF, 0x00, 0xD8}; // A 中 🎉 and a lone surrogate
    EXPECT_EQ(std::wstring(L"A中🎉\xFFFD"), Utf16leToWide(utf16, 5));
    char narrow[16];
    Utf16leToAnsi(utf16, 2, narrow, sizeof narrow);
    EXPECT_STREQ("A\xD6\xD0", narrow);
}

TEST(TextHelpers, LowerCaseLeavesOtherCharacters) {
    char s[] = "ABC.Jpg-Ü";
    EXPECT_STREQ("abc.jpg-Ü", GetCharLowerA(s));
    wchar_t w[] = L"MiXeD É";
    EXPECT_STREQ(L"mixed É", GetCharLowerW(w));
}
