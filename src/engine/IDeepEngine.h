#pragma once
// One kind of metadata the deep pass recognises anywhere in the area. The pass
// offers every sector, in one order, to a list of deep engines; the first that
// takes it wins, and the carver, last, takes what nobody claimed. A new file
// system joins the deep pass as one engine and one line in DeepEngines.cpp.
#include "engine/IFileRecoveryParse.h"

#include <cstddef>
#include <cstdint>

class CDiskReader;

// What the pass knows when it offers a sector.
struct DeepSector {
    const unsigned char* data;  // the sector; the rest of the read buffer follows it
    size_t available;           // bytes from data to the end of the buffer (at least one sector)
    uint64_t absolute;          // absolute sector number on the device
    uint64_t scanned;           // sectors of the pass done before this one
    uint64_t total;             // sectors the pass covers
    int remainingSeconds;       // estimate shown by progress callbacks, -1 while unknown
    CDiskReader* reader;        // reads past the buffer (bounded by the area)
};

constexpr int kOfferNoted = 2;

class IDeepEngine : public IFileRecoveryParse {
public:
    // Prefix of this engine's result store inside a scan's log folder ("Pro_Fat_").
    virtual const char* StorePrefix() const = 0;
    // Starts a pass with a fresh store (storeName null) or an interrupted scan's store.
    virtual int BeginDeepPass(wchar_t* storeName) = 0;
    // 0 when the sector is not this engine's; otherwise it was taken and `used` is
    // the sector count consumed (at least 1; it may reach past the buffer).
    // RECOVERY_STOPPED when the user stopped during the offer. kOfferNoted when the
    // engine kept something from the sector but leaves it to the engines after it.
    // Whatever an engine keeps must come from sectors it takes or notes: a resumed
    // pass offers those again to rebuild what the interrupted one held in memory.
    virtual int OfferSector(const DeepSector& sector, uint64_t& used, uint64_t& findFileCount) = 0;
    // Ends the pass: trees are built from what was taken, and the store flushed.
    virtual int EndDeepPass() = 0;
    // Whether a record of this FILE_SYSTEM_TYPE came from this engine.
    virtual bool OwnsRecordType(uint32_t fileSystemType) const = 0;
};
