#pragma once
// The read-ahead shared by the length rules that look for a file's end on the
// disk: it reads 64 KiB windows after the start sector, reports progress, lets
// the rule search each window for its end marker, and stops at the next file
// start or at file-system metadata.
#include <cstdint>
#include <functional>

enum READ_AHEAD_STOP {
    STOP_AT_ANY_START, // IsEndOfFile / IsEndOfVedioFile
    STOP_NOT_AT_MPEG,  // IsEndOfMPGFile: MPEG starts belong to the stream
};

// Called for every window with the bytes of the window that lie before the stop
// sector (all of them when there is none) and the file's bytes before the
// window. Returning true ends the rule with endLength.
typedef std::function<bool(unsigned char* window, int bytes, uint64_t before, uint64_t& endLength)> WindowVisitor;

// The file's length: endLength of the visitor that ended the rule, else the
// bytes up to the stop sector, the cap, the area's end or a read error.
uint64_t ReadAhead(uint64_t capBytes, READ_AHEAD_STOP stop, const WindowVisitor& visit);

// Reports a long measurement's progress as sectors scanned; false (with the
// judge's error set) when the user asked to stop.
bool ReadAheadProgress(uint64_t running);

// Index of the first sector of window (sectors of bytesPerSector) that starts
// another file or holds file-system metadata, -1 when none. Advances the judge's
// current sector through the sectors it looks at, as the disk-reading tests expect.
int FindStopSector(unsigned char* window, int sectors, int bytesPerSector, READ_AHEAD_STOP stop);

// True when a marker ending at offset end (in window) marks a file's end: it
// ends a sector, or the rest of its sector is zero.
bool IsTailAccepted(const unsigned char* window, int bytes, uint64_t end, int bytesPerSector);

// Offset just past the first accepted occurrence of marker in buf from offset
// from (only the first occurrence when retry is false); false when none.
bool FindAcceptedMarker(const unsigned char* buf, int len, const unsigned char* marker, int markerLen, bool retry,
                        uint64_t& end);

// The marker rule of formats whose end marker may also occur inside the data:
// the first accepted marker of buf ends the file at once; else each window's
// first accepted marker becomes the candidate (a later window overrides), taken
// when it lies before where the read-ahead stopped.
uint64_t MarkerReadAhead(unsigned char* buf, int len, const unsigned char* marker, int markerLen, uint64_t cap);

// Fallbacks of the structure walks, for files whose structure cannot be read:
// the last end-of-central-directory record of the first window holding one; the
// RAR 4 end block; the last %%EOF (or trailer) of the first window holding one;
// the last ID3v1 tag before the read-ahead stops.
uint64_t ZipRecordReadAhead(unsigned char* buf, int len, uint64_t cap);
uint64_t RarEndBlockReadAhead();
uint64_t PdfTrailerReadAhead();
uint64_t Id3v1ReadAhead();

// The read-ahead of a rule, ended early at structural (when non-zero) or at a
// marker the visitor accepts; structural is taken only when it lies before
// where the read-ahead stops.
uint64_t ReadAheadToStructuralEnd(uint64_t structural, uint64_t cap, READ_AHEAD_STOP stop, const WindowVisitor& marker);
