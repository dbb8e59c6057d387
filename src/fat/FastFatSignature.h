#pragma once
// The quick FAT engine's questions to the file signature judge.
#include <cstdint>

class CDiskReader;

// True when the judge has a signature for the extension; without one every
// content is accepted, so there is nothing worth reading the disk for.
bool FastFatCanJudge(const char* ext);

// True when buf (the first sector of a file's data) carries the signature the
// extension promises, or when no judgement is possible for that extension.
bool FastFatMatchesSignature(unsigned char* buf, int len, const char* ext, CDiskReader* reader, int bytesPerSector,
                             uint64_t sector);
