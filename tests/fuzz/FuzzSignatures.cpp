// Every signature test and length rule of the carving table over a buffer of any length, as a read-ahead window.
#include "FuzzSupport.h"
#include "carving/CFileTypeJudge.h"

ORVALE_FUZZ_TARGET {
    if (size == 0) return;
    for (const EXTEND_NAME_ROW* row = CFileTypeJudge::szExtendNameAndType; row->type != TYPE_UNKNOWN; ++row) {
        // A fresh copy per row: a rule must not depend on what another left behind.
        std::vector<unsigned char> buf(data, data + size);
        if (row->test && row->test(buf.data(), static_cast<int>(buf.size())) != row->type) continue;
        if (row->rule) row->rule(buf.data(), static_cast<int>(buf.size()));
    }
}
