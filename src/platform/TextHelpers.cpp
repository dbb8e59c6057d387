#include "platform/TextHelpers.h"

#include <cstring>

char* GetCharLowerA(char* s) {
    if (!s) return s;
    for (char* p = s; *p; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    return s;
}

wchar_t* GetCharLowerW(wchar_t* s) {
    if (!s) return s;
    for (wchar_t* p = s; *p; ++p)
        if (*p >= L'A' && *p <= L'Z') *p = static_cast<wchar_t>(*p - L'A' + L'a');
    return s;
}

int Convert2Lowercase(char* s) {
    if (!s) return 0;
    GetCharLowerA(s);
    return static_cast<int>(std::strlen(s));
}

void EraseStringTailBlankChar(char* s, int len) {
    if (!s) return;
    for (int i = len - 1; i >= 0 && s[i] == ' '; --i) s[i] = 0;
}
