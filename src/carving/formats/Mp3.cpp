// MP3: an optional ID3v2 tag (its size is in its header), MPEG audio frames (each
// header gives the frame's length; every frame must match the first one's
// version, layer and sample rate), then an optional APE tag and ID3v1 tag.
#include "carving/formats/CarvedFormat.h"

#include "carving/ReadAhead.h"
#include "platform/ByteView.h"

#include <cstring>

namespace {
// Length of the MPEG audio frame whose header is h, 0 when h is not one.
unsigned FrameLength(const unsigned char* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
    unsigned version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3, rate = h[2] >> 4, sr = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || rate == 0 || rate == 15 || sr == 3) return 0;
    static const unsigned kRates[2][3][16] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const unsigned kSampleRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const unsigned layerIndex = 3 - layer; // 0: layer I
    unsigned bitrate = kRates[mpeg1 ? 0 : 1][layerIndex][rate] * 1000;
    unsigned sampleRate = kSampleRates[sr] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    unsigned pad = (h[2] >> 1) & 1;
    if (layerIndex == 0) return (12 * bitrate / sampleRate + pad) * 4;
    if (layerIndex == 2 && !mpeg1) return 72 * bitrate / sampleRate + pad;
    return 144 * bitrate / sampleRate + pad;
}

// Version, layer and sample rate: what every frame of one stream shares.
unsigned StreamKey(const unsigned char* h) { return ((h[1] & 0x1E) << 8) | (h[2] & 0x0C); }

class Mp3Walk : public RecordWalk {
public:
    Mp3Walk() { Want(0, 10); }
    uint64_t AtEnd(uint64_t fed) override { return m_frames && Next() == fed ? fed : 0; }

protected:
    WalkStep OnHeader(const unsigned char* h, size_t n, uint64_t pos) override {
        ByteView v(h, n);
        switch (m_state) {
        case kStart:
            m_skipLimit = 4096;
            if (v.equals(0, "ID3", 3)) {
                uint64_t size = (h[6] & 0x7F) << 21 | (h[7] & 0x7F) << 14 | (h[8] & 0x7F) << 7 | (h[9] & 0x7F);
                uint64_t first = 10 + size + ((h[5] & 0x10) ? 10 : 0);
                m_skipLimit = first + 4096;
                return Frame(first);
            }
            m_state = kFrame;
            return FrameAt(h, v, pos);
        case kFrame:
            return FrameAt(h, v, pos);
        case kApe: {
            if (!v.equals(0, "APETAGEX", 8)) return WalkStep::End(pos);
            uint64_t size = v.le32(12);
            bool header = v.le32(20) & (1u << 29);
            return Tag(pos + size + (header ? 32 : 0), kTail, 3);
        }
        case kTail:
            return v.equals(0, "TAG", 3) ? WalkStep::End(pos + 128) : WalkStep::End(pos);
        }
        return WalkStep::Broken();
    }

private:
    WalkStep FrameAt(const unsigned char* h, const ByteView& v, uint64_t pos) {
        unsigned length = FrameLength(h);
        if (length && (!m_frames || StreamKey(h) == m_key)) {
            if (!m_frames) m_key = StreamKey(h);
            ++m_frames;
            return Frame(pos + length);
        }
        if (!m_frames) {
            // Padding some writers leave between the tag and the first frame.
            if (h[0] == 0 && pos < m_skipLimit) return Frame(pos + 1);
            return WalkStep::Broken();
        }
        if (v.equals(0, "APET", 4)) return Tag(pos, kApe, 32);
        if (v.equals(0, "TAG", 3)) return WalkStep::End(pos + 128);
        return WalkStep::End(pos);
    }
    WalkStep Frame(uint64_t at) {
        m_state = kFrame;
        Want(at, 4);
        return WalkStep::More();
    }
    WalkStep Tag(uint64_t at, int state, size_t n) {
        m_state = state;
        Want(at, n);
        return WalkStep::More();
    }
    enum { kStart, kFrame, kApe, kTail };
    int m_state = kStart;
    uint64_t m_frames = 0, m_skipLimit = 0;
    unsigned m_key = 0;
};

const FormatName kMp3Names[] = {{"mp3", TYPE_MP3}};
} // namespace

EXTEND_NAME_TYPE FormatRules::IsMp3Type(unsigned char* buf, int len) {
    if (StartsWith(buf, len, "ID3", 3)) {
        // Version bytes, flags and a 28-bit syncsafe size.
        if (len < 10 || buf[3] == 0xFF || buf[4] == 0xFF || (buf[5] & 0x0F)) return TYPE_UNKNOWN;
        for (int i = 6; i < 10; ++i)
            if (buf[i] >= 0x80) return TYPE_UNKNOWN;
        return TYPE_MP3;
    }
    // A bare layer III stream: two matching frames in a row, or a first frame
    // carrying the encoder's Xing/Info header.
    if (!buf || len < 4 || ((buf[1] >> 1) & 3) != 1) return TYPE_UNKNOWN;
    unsigned length = FrameLength(buf);
    if (!length) return TYPE_UNKNOWN;
    if (length + 4 <= static_cast<unsigned>(len))
        return FrameLength(buf + length) && StreamKey(buf + length) == StreamKey(buf) ? TYPE_MP3 : TYPE_UNKNOWN;
    int probe = len < 64 ? len : 64;
    return memmem(buf, probe, reinterpret_cast<const unsigned char*>("Xing"), 4) ||
                   memmem(buf, probe, reinterpret_cast<const unsigned char*>("Info"), 4)
               ? TYPE_MP3
               : TYPE_UNKNOWN;
}

uint64_t FormatRules::GetMP3FileBytesSize(unsigned char* buf, int len) {
    Mp3Walk walk;
    if (uint64_t end = WalkFile(walk, buf, len, 2 * kGiB)) return end;
    if (m_ErrorCode == RECOVERY_STOPPED) return static_cast<uint64_t>(len);
    return Id3v1ReadAhead();
}

namespace {
bool MayStartMp3(const unsigned char* b, int n) { return StartsWith(b, n, "ID3", 3) || (n >= 2 && b[0] == 0xFF && (b[1] & 0xE0) == 0xE0); }
} // namespace

extern const CarvedFormat kMp3Format;
const CarvedFormat kMp3Format = {kMp3Names, 1, &FormatRules::IsMp3Type, &FormatRules::GetMP3FileBytesSize,
                                 nullptr, 0, MayStartMp3, FORMAT_BYTES("I\xFF"), -1, 0, true};
