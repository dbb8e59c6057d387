// Formats whose tests and length rules still live with the judge (FileSignatures,
// DiskSignatures, HeaderLengthRules, MarkerLengthRules): their table records.
#include "carving/formats/CarvedFormat.h"

#define J CFileTypeJudge
#define NO_MAGIC nullptr, 0
#define NAMES(n) n, static_cast<int>(sizeof(n) / sizeof(n[0]))
#define RECORD(name, test, rule, magic, may, leads, off, byte, walk)                                                   \
    extern const CarvedFormat k##name##Format;                                                                       \
    const CarvedFormat k##name##Format = {NAMES(k##name##Names), &J::test, rule, magic, may, leads, off, byte, walk};

namespace {
bool MayStartSwf(const unsigned char* b, int n) { return n >= 3 && (b[0] == 'F' || b[0] == 'C') && b[1] == 'W' && b[2] == 'S'; }
bool MayStartTtf(const unsigned char* b, int n) {
    return StartsWith(b, n, "\0\1\0\0", 4) || StartsWith(b, n, "true", 4) || StartsWith(b, n, "OTTO", 4);
}

const FormatName kMpegNames[] = {{"mpeg", TYPE_MPG}, {"mpg", TYPE_MPG}, {"vob", TYPE_MPG}};
const FormatName kRmvbNames[] = {{"rmvb", TYPE_RMVB}, {"rm", TYPE_RMVB}};
const FormatName kAsfNames[] = {{"wmv", TYPE_ASF}, {"asf", TYPE_ASF}, {"wma", TYPE_ASF}};
const FormatName kSwfNames[] = {{"swf", TYPE_SWF}};
const FormatName kAviNames[] = {{"avi", TYPE_AVI}};
const FormatName kFlvNames[] = {{"flv", TYPE_FLV}};
const FormatName kTsNames[] = {{"ts", TYPE_TS}};
const FormatName kMtsNames[] = {{"mts", TYPE_MTS}};
const FormatName kMxfNames[] = {{"mxf", TYPE_MXF}};
const FormatName kMidiNames[] = {{"mid", TYPE_MID}};
const FormatName kApeNames[] = {{"ape", TYPE_APE}};
const FormatName kWavNames[] = {{"wav", TYPE_WAV}};
const FormatName kMp2Names[] = {{"mp2", TYPE_MP2}};
const FormatName kMmfNames[] = {{"mmf", TYPE_MMF}};
const FormatName kPsdNames[] = {{"psd", TYPE_PSD}};
const FormatName kIcoNames[] = {{"ico", TYPE_ICO}};
const FormatName kOffice97Names[] = {
    {"doc", TYPE_DOC}, {"dot", TYPE_DOC}, {"wps", TYPE_DOC}, {"wpt", TYPE_DOC}, {"xls", TYPE_XLS},
    {"xlt", TYPE_XLS}, {"xla", TYPE_XLS}, {"et", TYPE_XLS},  {"ett", TYPE_XLS}, {"ppt", TYPE_PPT},
    {"pot", TYPE_PPT}, {"pps", TYPE_PPT}, {"dps", TYPE_PPT}, {"dpt", TYPE_PPT}, {"ole", TYPE_OLE}};
const FormatName kCabNames[] = {{"cab", TYPE_CAB}};
const FormatName kPeNames[] = {{"exe", TYPE_EXE}, {"dll", TYPE_DLL}, {"sys", TYPE_SYS}};
const FormatName kGhoNames[] = {{"gho", TYPE_GHO}};
const FormatName kDbxNames[] = {{"dbx", TYPE_DBX}};
const FormatName kPstNames[] = {{"pst", TYPE_PST}};
const FormatName kFlaNames[] = {{"fla", TYPE_FLA}};
const FormatName kTtfNames[] = {{"ttf", TYPE_TTF}};
const FormatName kMatroskaNames[] = {{"mkv", TYPE_MKV}, {"webm", TYPE_MKV}};
const FormatName kSqliteNames[] = {{"db", TYPE_DB}, {"sqlite", TYPE_DB}};
const FormatName kTiffNames[] = {{"tif", TYPE_TIF}, {"tiff", TYPE_TIF}};
bool MayStartTiff(const unsigned char* b, int n) { return StartsWith(b, n, "II*\0", 4) || StartsWith(b, n, "MM\0*", 4); }
} // namespace

RECORD(Mpeg, IsMpgType, &J::GetMPGFileBytesSize, FORMAT_BYTES("\0\0\1"), nullptr, FORMAT_BYTES("\x00"), -1, 0, true)
RECORD(Rmvb, IsRmvbType, &J::GetRMVBFileBytesSize, FORMAT_BYTES(".RMF"), nullptr, FORMAT_BYTES("."), -1, 0, true)
RECORD(Asf, IsAsfType, &J::GetASFFileBytesSize, FORMAT_BYTES("\x30\x26\xB2\x75"), nullptr, FORMAT_BYTES("\x30"), -1, 0, true)
RECORD(Swf, IsSwfType, &J::GetSWFFileBytesSize, NO_MAGIC, MayStartSwf, FORMAT_BYTES("FC"), -1, 0, true)
RECORD(Avi, IsAviType, &J::GetAVIFileBytesSize, FORMAT_BYTES("RIFF"), nullptr, FORMAT_BYTES("R"), -1, 0, true)
RECORD(Flv, IsFlvType, &J::GetDefaultVedioFileBytesSize, FORMAT_BYTES("FLV"), nullptr, FORMAT_BYTES("F"), -1, 0, true)
RECORD(Ts, IsTsType, &J::GetTSFileBytesSize, FORMAT_BYTES("G"), nullptr, FORMAT_BYTES("G"), -1, 0, true)
RECORD(Mts, IsMtsType, &J::GetDefaultVedioFileBytesSize, NO_MAGIC, nullptr, FORMAT_BYTES(""), 10, 0xB0, true)
RECORD(Mxf, IsMxfType, &J::GetDefaultVedioFileBytesSize, FORMAT_BYTES("\x06\x0E\x2B\x34"), nullptr, FORMAT_BYTES("\x06"), -1, 0, true)
RECORD(Midi, IsMidType, &J::GetMIDFileBytesSize, FORMAT_BYTES("MThd"), nullptr, FORMAT_BYTES("M"), -1, 0, true)
RECORD(Ape, IsApeType, &J::GetAPEFileBytesSize, FORMAT_BYTES("MAC "), nullptr, FORMAT_BYTES("M"), -1, 0, true)
RECORD(Wav, IsWavType, &J::GetWAVFileBytesSize, FORMAT_BYTES("RIFF"), nullptr, FORMAT_BYTES("R"), -1, 0, true)
RECORD(Mp2, IsMp2Type, &J::GetDefaultAudioFileBytesSize, FORMAT_BYTES("\xFF"), nullptr, FORMAT_BYTES("\xFF"), -1, 0, true)
RECORD(Mmf, IsMmfType, &J::GetDefaultAudioFileBytesSize, FORMAT_BYTES("MMMD"), nullptr, FORMAT_BYTES("M"), -1, 0, true)
RECORD(Psd, IsPsdType, &J::GetDefaultPictureFileBytesSize, FORMAT_BYTES("8BPS"), nullptr, FORMAT_BYTES("8"), -1, 0, true)
RECORD(Ico, IsIcoType, &J::GetICOFileBytesSize, FORMAT_BYTES("\0\0\1\0"), nullptr, FORMAT_BYTES("\x00"), -1, 0, true)
RECORD(Office97, IsOffice2003Type, &J::GetOFFICE2003FileBytesSize, FORMAT_BYTES("\xD0\xCF\x11\xE0"), nullptr, FORMAT_BYTES("\xD0"), -1, 0, true)
RECORD(Cab, IsCabType, &J::GetCABFileBytesSize, FORMAT_BYTES("MSCF"), nullptr, FORMAT_BYTES("M"), -1, 0, true)
RECORD(Pe, IsPeType, nullptr, FORMAT_BYTES("MZ"), nullptr, FORMAT_BYTES("M"), -1, 0, true)
RECORD(Gho, IsGhoType, nullptr, FORMAT_BYTES("\xFE\xEF"), nullptr, FORMAT_BYTES("\xFE"), -1, 0, true)
RECORD(Dbx, IsDbxEmailType, &J::GetMailFileBytesSize, FORMAT_BYTES("\xCF\xAD\x12\xFE"), nullptr, FORMAT_BYTES("\xCF"), -1, 0, true)
RECORD(Pst, IsPstEmailType, &J::GetMailFileBytesSize, FORMAT_BYTES("!BDN"), nullptr, FORMAT_BYTES("!"), -1, 0, true)
RECORD(Fla, IsFlaType, &J::GetFLAFileBytesSize, FORMAT_BYTES("\xD0\xCF\x11\xE0"), nullptr, FORMAT_BYTES("\xD0"), -1, 0, true)
RECORD(Ttf, IsTtfType, &J::GetTTFFileBytesSize, NO_MAGIC, MayStartTtf, FORMAT_BYTES("\x00"), -1, 0, true)
RECORD(Matroska, IsMkvType, &J::GetMKVFileBytes, FORMAT_BYTES("\x1A\x45\xDF\xA3"), nullptr, FORMAT_BYTES("\x1A"), -1, 0, true)
RECORD(Sqlite, IsSqlType, &J::GetDBFileBytesSize, FORMAT_BYTES("SQLite format 3"), nullptr, FORMAT_BYTES("S"), -1, 0, true)
RECORD(Tiff, IsTifType, &J::GetDefaultPictureFileBytesSize, NO_MAGIC, MayStartTiff, FORMAT_BYTES("IM"), -1, 0, true)
