#pragma once
// ASCII case and blank helpers for 8-bit and wide strings.
char* GetCharLowerA(char* s);
wchar_t* GetCharLowerW(wchar_t* s);
int Convert2Lowercase(char* s);
// Replaces trailing spaces of s[0..len) with NUL (FAT 8.3 name parts).
void EraseStringTailBlankChar(char* s, int len);
