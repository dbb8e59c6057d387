#pragma once
// The ticked files of the result page, in the order they are recovered.
#include "engine/FileNode.h"

#include <cstdint>
#include <map>

// (nFileIndex << 32) + nClusterNO names a record only inside one engine's store; the
// deep composite merges several stores, each numbering its records from 1, so the
// producing engine is part of the key too.
struct SELECTION_KEY {
    uint32_t nFileSystemType;
    uint64_t u64Key;
    bool operator<(const SELECTION_KEY& o) const {
        return nFileSystemType != o.nFileSystemType ? nFileSystemType < o.nFileSystemType : u64Key < o.u64Key;
    }
    bool operator==(const SELECTION_KEY& o) const {
        return nFileSystemType == o.nFileSystemType && u64Key == o.u64Key;
    }
};

inline SELECTION_KEY GetSelectionKey(const _FILE_NODE_& node) {
    return SELECTION_KEY{node.nFileSystemType,
                         (static_cast<uint64_t>(node.nFileIndex) << 32) + static_cast<uint64_t>(node.nClusterNO)};
}

typedef std::map<SELECTION_KEY, _FILE_NODE_> SelectionMap;
