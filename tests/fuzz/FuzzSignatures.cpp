// Every signature test and length rule of the carving table over a buffer of
// arbitrary bytes and length, as the carving pass hands them a read-ahead window.
#include "FuzzSupport.h"

#include "carving/CFileTypeJudge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    for (const EXTEND_NAME_ROW* row = CFileTypeJudge::szExtendNameAndType; row->type != TYPE_UNKNOWN; ++row) {
        // A fresh copy per row: a rule must not depend on what another left behind.
        std::vector<unsigned char> buf(data, data + size);
        if (row->test && row->test(buf.data(), static_cast<int>(buf.size())) != row->type) continue;
        if (row->rule) row->rule(buf.data(), static_cast<int>(buf.size()));
    }
    return 0;
}
