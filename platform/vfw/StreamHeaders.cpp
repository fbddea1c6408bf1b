#include "platform/vfw/StreamHeaders.h"

#include <QStringList>

#include <functional>
#include <vector>

namespace qdx::vfw {

namespace {

// Bits of a header, most significant first; reads past the end give zeros and mark it.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint32_t bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            uint32_t bit = 0;
            if (m_pos < 8 * m_size)
                bit = (m_data[m_pos / 8] >> (7 - m_pos % 8)) & 1;
            else
                m_overrun = true;
            ++m_pos;
            v = (v << 1) | bit;
        }
        return v;
    }
    bool bit() { return bits(1) != 0; }
    uint32_t ue() {
        int zeros = 0;
        while (!bit() && zeros < 32 && !m_overrun)
            ++zeros;
        return zeros >= 32 ? 0 : (1u << zeros) - 1 + bits(zeros);
    }
    int32_t se() {
        const uint32_t v = ue();
        return (v & 1) ? int32_t((v + 1) / 2) : -int32_t(v / 2);
    }
    bool overrun() const { return m_overrun; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_overrun = false;
};

// Calls `unit` with each NAL unit's bytes (header byte first) until it returns false.
void forEachUnit(const uint8_t* data, size_t size, int lengthSize,
                 const std::function<bool(const uint8_t*, size_t)>& unit) {
    if (lengthSize > 0) {
        size_t at = 0;
        while (at + size_t(lengthSize) <= size) {
            size_t length = 0;
            for (int i = 0; i < lengthSize; ++i)
                length = (length << 8) | data[at + size_t(i)];
            at += size_t(lengthSize);
            if (length == 0 || length > size - at)
                return;
            if (!unit(data + at, length))
                return;
            at += length;
        }
        return;
    }
    // Start codes 00 00 01 (a leading zero byte belongs to the code, not to the unit before).
    size_t begin = size;
    for (size_t i = 0; i + 2 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        if (begin < size) {
            size_t end = i;
            while (end > begin && data[end - 1] == 0)
                --end;
            if (!unit(data + begin, end - begin))
                return;
        }
        begin = i + 3;
        i += 2;
    }
    if (begin < size)
        unit(data + begin, size - begin);
}

// A unit's payload without its emulation prevention bytes (00 00 03).
std::vector<uint8_t> payload(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.push_back(data[i]);
    }
    return out;
}

void skipScalingList(BitReader& r, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0)
            next = (last + r.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

} // namespace

bool h264HasIdr(const uint8_t* data, size_t size, int lengthSize) {
    bool idr = false;
    forEachUnit(data, size, lengthSize, [&](const uint8_t* unit, size_t) {
        idr = (unit[0] & 0x1f) == 5;
        return !idr;
    });
    return idr;
}

std::optional<H264Sequence> h264Sequence(const uint8_t* data, size_t size, int lengthSize) {
    std::optional<H264Sequence> found;
    std::optional<bool> cabac;
    forEachUnit(data, size, lengthSize, [&](const uint8_t* unit, size_t length) {
        if ((unit[0] & 0x1f) == 8 && !cabac) {
            const std::vector<uint8_t> bytes = payload(unit + 1, length - 1);
            BitReader r(bytes.data(), bytes.size());
            r.ue(); // its id
            r.ue(); // its sequence's
            cabac = r.bit();
            return !found;
        }
        if ((unit[0] & 0x1f) != 7 || found)
            return true;
        const std::vector<uint8_t> bytes = payload(unit + 1, length - 1);
        BitReader r(bytes.data(), bytes.size());
        H264Sequence s;
        s.profile = int(r.bits(8));
        r.bits(8); // constraint flags
        s.level = int(r.bits(8));
        r.ue(); // its id
        switch (s.profile) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135: {
            s.chromaFormat = int(r.ue());
            if (s.chromaFormat == 3)
                r.bit(); // separate colour planes
            s.bitDepth = 8 + int(r.ue());
            const int chromaDepth = 8 + int(r.ue());
            s.bitDepth = std::max(s.bitDepth, chromaDepth);
            r.bit();     // lossless bypass
            if (r.bit()) // scaling matrices
                for (int i = 0; i < (s.chromaFormat != 3 ? 8 : 12); ++i)
                    if (r.bit())
                        skipScalingList(r, i < 6 ? 16 : 64);
            break;
        }
        default:
            break;
        }
        r.ue(); // log2 of the largest frame number
        const uint32_t pocType = r.ue();
        if (pocType == 0) {
            r.ue();
        } else if (pocType == 1) {
            r.bit();
            r.se();
            r.se();
            const uint32_t cycle = r.ue();
            for (uint32_t i = 0; i < cycle && i < 256; ++i)
                r.se();
        }
        s.referenceFrames = int(r.ue());
        r.bit(); // frame number gaps
        r.ue();  // width
        r.ue();  // height
        s.frameMbsOnly = r.bit();
        if (!r.overrun())
            found = s;
        return !cabac;
    });
    if (found && cabac)
        found->cabac = *cabac;
    return found;
}

std::optional<Mpeg4Layer> mpeg4Layer(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const size_t size = size_t(bytes.size());
    for (size_t i = 0; i + 4 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || (data[i + 3] & 0xf0) != 0x20)
            continue;
        BitReader r(data + i + 4, size - i - 4);
        Mpeg4Layer l;
        r.bit();   // random accessible
        r.bits(8); // object type
        int verid = 1;
        if (r.bit()) {
            verid = int(r.bits(4));
            r.bits(3);
        }
        if (r.bits(4) == 15) // extended aspect ratio
            r.bits(16);
        if (r.bit()) {   // control parameters
            r.bits(2);   // chroma format
            r.bit();     // low delay
            if (r.bit()) // VBV parameters
                r.bits(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1);
        }
        const uint32_t shape = r.bits(2);
        if (shape != 0) {
            l.unusual = true;
            return l;
        }
        r.bit(); // marker
        const uint32_t resolution = r.bits(16);
        r.bit();       // marker
        if (r.bit()) { // fixed VOP rate
            int n = 1;
            while (n < 16 && (1u << n) < resolution)
                ++n;
            r.bits(n);
        }
        r.bits(1 + 13 + 1 + 13 + 1); // the size between markers
        l.interlaced = r.bit();
        r.bit(); // OBMC disabled
        l.sprites = r.bits(verid == 1 ? 1 : 2) != 0;
        if (l.sprites) {
            l.unusual = true; // the header goes on in sprite fields this reader does not follow
            return l;
        }
        if (r.bit()) // not 8 bits
            l.unusual = true;
        l.mpegQuantisation = r.bit();
        if (l.mpegQuantisation) {
            for (int m = 0; m < 2; ++m) {
                if (!r.bit())
                    continue;
                l.customMatrices = true;
                for (int k = 0; k < 64; ++k)
                    if (r.bits(8) == 0)
                        break;
            }
        }
        if (verid != 1)
            l.quarterPel = r.bit();
        if (r.overrun())
            l.unusual = true;
        return l;
    }
    return std::nullopt;
}

QString mpeg4Differences(const Mpeg4Layer& source, const Mpeg4Layer& bridge) {
    QStringList out;
    if (source.unusual || bridge.unusual)
        out << QStringLiteral("a video object layer the re-encoder does not write");
    if (source.sprites != bridge.sprites)
        out << QStringLiteral("global motion compensation");
    if (source.mpegQuantisation != bridge.mpegQuantisation)
        out << QStringLiteral("MPEG quantisation");
    if (source.customMatrices != bridge.customMatrices)
        out << QStringLiteral("its own quantisation matrices");
    if (source.quarterPel != bridge.quarterPel)
        out << QStringLiteral("quarter-pel motion");
    if (source.interlaced != bridge.interlaced)
        out << QStringLiteral("interlacing");
    return out.join(QStringLiteral(", "));
}

} // namespace qdx::vfw
