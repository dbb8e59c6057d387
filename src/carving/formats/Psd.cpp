// Photoshop: "8BPS".
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "carving/formats/FormatBytes.h"
#include "platform/ByteView.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
const FormatName kPsdNames[] = {{"psd", TYPE_PSD}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsPsdType(unsigned char* buf, int len) {
    return Has(buf, len, 40) && At(buf, len, 0, "8BPS", 4) ? TYPE_PSD : TYPE_UNKNOWN;
}

CARVED_FORMAT(Psd, IsPsdType, &FormatRules::GetDefaultPictureFileBytesSize, FORMAT_BYTES("8BPS"), nullptr, FORMAT_BYTES("8"), -1, 0, true)
