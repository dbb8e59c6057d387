#pragma once
// File-name and path helpers used when found files are saved.
#include <string>

// Copies the text after the last '.' of name into ext. 0, or 87 for a null
// pointer or a name without '.' (ext untouched).
int GetExtendName(const char* name, char* ext);
// Splits path at its last '/' and the last '.' after it; drive is always empty.
// Each output may be null; outputs must hold the parts (at most strlen(path)+1).
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
// A name for path that does not overwrite anything: path itself when free, else
// dir/fname(n)ext for the first free n. Writes at most outSize wide characters.
void GetRealFileName(const char* path, wchar_t* out, int outSize);
// A found file's 8-bit name made safe as one path component of a destination
// folder: '/' becomes '_', ".", ".." and empty names become "unnamed", and a
// name too long for the file system is cut at a character boundary, keeping
// its extension.
std::string SanitizeFileName(const char* name);
// The same, widened: one component of a target path.
std::wstring SafePathComponent(const char* name);
// count = number of '/' and '\\' among all but the last character of path.
int GetPathDirIndex(const wchar_t* path, int& count);
