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
