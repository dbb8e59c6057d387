// The carved formats in the order the start walk tries them: the first format
// whose test accepts a sector names the file. A new format is its file plus one
// entry here.
#include "carving/formats/CarvedFormat.h"


#define ORVALE_CARVED_FORMATS(X)                                                                                    \
    X(Mpeg) X(Mp4) X(Rmvb) X(Asf) X(Swf) X(Avi) X(Flv) X(ThreeGp) X(Matroska) X(Ts) X(Mts) X(Mxf) X(Mp3) X(Midi)      \
    X(Ape) X(Wav) X(Mov) X(Mp2) X(Mmf) X(Ogg) X(Gif) X(Bmp) X(Jpeg) X(Png) X(Psd) X(Tiff) X(Ico) X(Office97)          \
    X(Ooxml) X(Pdf) X(Gzip) X(SevenZip) X(OpenDocument) X(JavaArchive) X(Zip) X(Rar) X(Cab) X(Pe) X(Gho) X(Sqlite)   \
    X(Dbx) X(Pst) X(Fla) X(Ttf) X(Text)

#define ORVALE_DECLARE_FORMAT(name) extern const CarvedFormat k##name##Format;
#define ORVALE_FORMAT_ADDRESS(name) &k##name##Format,
ORVALE_CARVED_FORMATS(ORVALE_DECLARE_FORMAT)

const std::vector<const CarvedFormat*>& CarvedFormats() {
    static const std::vector<const CarvedFormat*> formats = {ORVALE_CARVED_FORMATS(ORVALE_FORMAT_ADDRESS)};
    return formats;
}

const CarvedFormat* FormatOfType(EXTEND_NAME_TYPE type) {
    for (const CarvedFormat* f : CarvedFormats())
        for (int i = 0; i < f->nameCount; ++i)
            if (f->names[i].type == type) return f;
    return nullptr;
}
