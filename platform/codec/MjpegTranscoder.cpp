#include "platform/codec/MjpegTranscoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

namespace qdx::vfw {

namespace {

// libjpeg's fatal errors jump back to the setjmp of the call that started the libjpeg work (no
// C++ frame lies between, so the jump skips no destructor); its warnings (damaged data it steps
// over) mark the sample damaged. Nothing is printed.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool damaged = false;
};

void errorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void emitMessage(j_common_ptr cinfo, int level) {
    if (level < 0)
        reinterpret_cast<ErrorManager*>(cinfo->err)->damaged = true;
}

void outputMessage(j_common_ptr) {}

// The written picture is gathered in a vector that grows as libjpeg fills it.
struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<uint8_t>* out = nullptr;
};

// Grows the vector; false when memory runs out. No exception may cross libjpeg's C frames: a
// failure is reported as libjpeg's own out-of-memory error instead.
bool grow(std::vector<uint8_t>& bytes, size_t size) {
    try {
        bytes.resize(size);
        return true;
    } catch (...) {
        return false;
    }
}

[[noreturn]] void outOfMemory(j_compress_ptr cinfo) {
    cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
    cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
    std::abort(); // error_exit does not return
}

void initDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    if (!grow(*d->out, std::max<size_t>(d->out->capacity(), 64 * 1024)))
        outOfMemory(cinfo);
    d->pub.next_output_byte = d->out->data();
    d->pub.free_in_buffer = d->out->size();
}

boolean emptyDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    const size_t used = d->out->size();
    if (!grow(*d->out, used * 2))
        outOfMemory(cinfo);
    d->pub.next_output_byte = d->out->data() + used;
    d->pub.free_in_buffer = d->out->size() - used;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* d = reinterpret_cast<VectorDestination*>(cinfo->dest);
    d->out->resize(d->out->size() - d->pub.free_in_buffer);
}

// The largest coefficient magnitudes of 8-bit baseline JPEG: DC values stay within 11 bits of
// difference between blocks, AC values within 10 bits.
constexpr int kDcLow = -1024;
constexpr int kDcHigh = 1023;
constexpr int kAcMost = 1023;

} // namespace

// The libjpeg objects of one transcoder: a decompressor reading samples, a compressor writing
// them, one error manager for both, and the standard Huffman tables.
struct MjpegTranscoder::Codec {
    ErrorManager errors;
    jpeg_decompress_struct src{};
    jpeg_compress_struct dst{};
    VectorDestination destination;
    JHUFF_TBL standardDc[2]{};
    JHUFF_TBL standardAc[2]{};
    bool created = false;

    Codec() {
        jpeg_std_error(&errors.pub);
        errors.pub.error_exit = errorExit;
        errors.pub.emit_message = emitMessage;
        errors.pub.output_message = outputMessage;
        src.err = &errors.pub;
        dst.err = &errors.pub;
        if (!start())
            throw std::bad_alloc(); // libjpeg fails here only when out of memory
    }
    ~Codec() {
        if (created) {
            jpeg_destroy_compress(&dst);
            jpeg_destroy_decompress(&src);
        }
    }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;

    bool start() {
        if (setjmp(errors.jump)) {
            if (created) {
                jpeg_destroy_compress(&dst);
                jpeg_destroy_decompress(&src);
                created = false;
            }
            return false;
        }
        jpeg_create_decompress(&src);
        jpeg_create_compress(&dst);
        created = true;
        dst.dest = &destination.pub;
        destination.pub.init_destination = initDestination;
        destination.pub.empty_output_buffer = emptyDestination;
        destination.pub.term_destination = termDestination;
        // The defaults of a YCbCr picture hold the standard Huffman tables.
        dst.in_color_space = JCS_YCbCr;
        dst.input_components = 3;
        jpeg_set_defaults(&dst);
        for (int n = 0; n < 2; ++n) {
            standardDc[n] = *dst.dc_huff_tbl_ptrs[n];
            standardAc[n] = *dst.ac_huff_tbl_ptrs[n];
            src.dc_huff_tbl_ptrs[n] = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(&src));
            src.ac_huff_tbl_ptrs[n] = jpeg_alloc_huff_table(reinterpret_cast<j_common_ptr>(&src));
        }
        return true;
    }

    // libjpeg keeps tables from one picture to the next; each sample must bring its own
    // quantisation tables (a cleared one is refused) and gets the standard Huffman tables where
    // it brings none. Tables beyond the first two are emptied, so that using one the sample did
    // not define is damage.
    void clearTables() {
        for (JQUANT_TBL* table : src.quant_tbl_ptrs)
            if (table)
                std::memset(table->quantval, 0, sizeof table->quantval);
        for (int n = 0; n < NUM_HUFF_TBLS; ++n) {
            if (n < 2) {
                *src.dc_huff_tbl_ptrs[n] = standardDc[n];
                *src.ac_huff_tbl_ptrs[n] = standardAc[n];
                continue;
            }
            for (JHUFF_TBL* table : {src.dc_huff_tbl_ptrs[n], src.ac_huff_tbl_ptrs[n]})
                if (table)
                    std::memset(table->bits, 0, sizeof table->bits);
        }
    }

    // The quantisation table a component of the picture read uses; nullptr when the picture
    // did not define it.
    const JQUANT_TBL* tableOf(int component) const {
        const jpeg_component_info& c = src.comp_info[component];
        const JQUANT_TBL* table = c.quant_table;
        if (!table && c.quant_tbl_no >= 0 && c.quant_tbl_no < NUM_QUANT_TBLS)
            table = src.quant_tbl_ptrs[c.quant_tbl_no];
        if (!table)
            return nullptr;
        for (const UINT16 step : table->quantval)
            if (step == 0)
                return nullptr;
        return table;
    }

    // The header just read is a picture the transcoder takes: 8-bit sequential Huffman-coded
    // YCbCr of three components, of the target's size and sampling, whose first scan uses only
    // the first two Huffman tables.
    bool fits(const Target& target, int width, int height) const {
        if (int(src.image_width) != width || int(src.image_height) != height ||
            src.num_components != 3 || src.jpeg_color_space != JCS_YCbCr ||
            src.data_precision != 8 || src.progressive_mode || src.arith_code)
            return false;
        for (int c = 0; c < 3; ++c) {
            const jpeg_component_info& info = src.comp_info[c];
            if (info.h_samp_factor != target.horizontal[size_t(c)] ||
                info.v_samp_factor != target.vertical[size_t(c)] || !tableOf(c))
                return false;
        }
        for (int i = 0; i < src.comps_in_scan; ++i)
            if (src.cur_comp_info[i]->dc_tbl_no > 1 || src.cur_comp_info[i]->ac_tbl_no > 1)
                return false;
        return true;
    }
};

namespace {

// Reads the layout of a picture into `target`; false when libjpeg fails on it or it is not a
// 3-component 8-bit sequential JPEG. Touches only objects of the caller, so that a jump out of
// libjpeg leaves nothing behind.
template <class Codec, class Target>
bool readTarget(Codec& codec, Target& target, const uint8_t* jpeg, size_t size) {
    if (setjmp(codec.errors.jump))
        return false;
    codec.clearTables();
    jpeg_mem_src(&codec.src, jpeg, static_cast<unsigned long>(size));
    if (jpeg_read_header(&codec.src, TRUE) != JPEG_HEADER_OK || codec.src.num_components != 3 ||
        codec.src.data_precision != 8 || codec.src.progressive_mode || codec.src.arith_code)
        return false;
    target.width = int(codec.src.image_width);
    target.height = int(codec.src.image_height);
    for (int c = 0; c < 3; ++c) {
        const jpeg_component_info& info = codec.src.comp_info[c];
        target.horizontal[size_t(c)] = info.h_samp_factor;
        target.vertical[size_t(c)] = info.v_samp_factor;
        const JQUANT_TBL* table = codec.tableOf(c);
        if (!table)
            return false;
        for (size_t k = 0; k < 64; ++k)
            target.tables[size_t(c)][k] = table->quantval[k];
    }
    return !codec.errors.damaged;
}

} // namespace

std::optional<MjpegTranscoder::Target> MjpegTranscoder::targetOf(const uint8_t* jpeg, size_t size) {
    if (!jpeg || size == 0)
        return std::nullopt;
    Codec codec;
    Target target;
    const bool read = readTarget(codec, target, jpeg, size);
    jpeg_abort_decompress(&codec.src);
    if (!read)
        return std::nullopt;
    return target;
}

MjpegTranscoder::MjpegTranscoder(const Target& target, int width, int height, bool optimiseHuffman)
    : m_codec(std::make_unique<Codec>()), m_target(target), m_optimise(optimiseHuffman) {
    m_target.width = width;
    m_target.height = height;
}

MjpegTranscoder::~MjpegTranscoder() = default;

// Also built for AVX2, chosen at run time where the processor has it (twice the lanes). Not
// under ThreadSanitizer: it instruments the resolver that picks the clone, which the dynamic
// loader runs before the sanitizer's runtime is up (the program then crashes at start).
#if defined(__SANITIZE_THREAD__)
#define QDX_NO_CLONES
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QDX_NO_CLONES
#endif
#endif
#ifndef QDX_NO_CLONES
__attribute__((target_clones("avx2", "default")))
#endif
void MjpegTranscoder::requantise(void* coefficients) {
    jpeg_decompress_struct& src = m_codec->src;
    auto* arrays = static_cast<jvirt_barray_ptr*>(coefficients);
    for (int c = 0; c < 3; ++c) {
        const JQUANT_TBL* from = m_codec->tableOf(c);
        const std::array<uint16_t, 64>& to = m_target.tables[size_t(c)];
        // c' = round(c * from / to), halves away from zero, in single precision: a result that
        // matters is at most about 1024, where the two roundings of the product err by less
        // than 2^-13, while a product that is no half lies at least 1 / (2 * to) >= 2^-9 from
        // the nearest half. Adding 0.5 + 2^-11 before truncating therefore rounds every half
        // up and every other value to its nearest integer, exactly as integer arithmetic does.
        std::array<float, 64> ratio{};
        std::array<int32_t, 64> low{};
        std::array<int32_t, 64> high{};
        bool same = true;
        for (size_t k = 0; k < 64; ++k) {
            ratio[k] = float(from->quantval[k]) / float(to[k]);
            low[k] = k == 0 ? kDcLow : -kAcMost;
            high[k] = k == 0 ? kDcHigh : kAcMost;
            same = same && from->quantval[k] == to[k];
        }
        if (same)
            continue; // the coefficients stay as they are
        const jpeg_component_info& info = src.comp_info[c];
        const JDIMENSION rows = (info.height_in_blocks + JDIMENSION(info.v_samp_factor) - 1) /
                                JDIMENSION(info.v_samp_factor) * JDIMENSION(info.v_samp_factor);
        const JDIMENSION columns = (info.width_in_blocks + JDIMENSION(info.h_samp_factor) - 1) /
                                   JDIMENSION(info.h_samp_factor) * JDIMENSION(info.h_samp_factor);
        for (JDIMENSION row = 0; row < rows; ++row) {
            JBLOCKARRAY blocks = src.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&src),
                                                             arrays[c], row, 1, TRUE);
            for (JDIMENSION column = 0; column < columns; ++column) {
                JCOEF* block = blocks[0][column];
                for (size_t k = 0; k < 64; ++k) {
                    const int32_t value = block[k];
                    const float magnitude = float(value < 0 ? -value : value);
                    const float scaled = std::min(magnitude * ratio[k] + 0.50048828125f, 2048.0f);
                    const int32_t q = int32_t(scaled);
                    block[k] = JCOEF(std::clamp(value < 0 ? -q : q, low[k], high[k]));
                }
            }
        }
    }
}

bool MjpegTranscoder::transcode(const uint8_t* sample, size_t size, std::vector<uint8_t>& out) {
    if (!sample || size == 0)
        return false;
    Codec& codec = *m_codec;
    jpeg_decompress_struct& src = codec.src;
    jpeg_compress_struct& dst = codec.dst;
    codec.errors.damaged = false;
    codec.destination.out = &out;
    if (setjmp(codec.errors.jump)) {
        jpeg_abort_compress(&dst);
        jpeg_abort_decompress(&src);
        return false;
    }
    codec.clearTables();
    jpeg_mem_src(&src, sample, static_cast<unsigned long>(size));
    if (jpeg_read_header(&src, TRUE) != JPEG_HEADER_OK ||
        !codec.fits(m_target, m_target.width, m_target.height) || codec.errors.damaged) {
        jpeg_abort_decompress(&src);
        return false;
    }
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&src);
    if (!coefficients || codec.errors.damaged) {
        jpeg_abort_decompress(&src);
        return false;
    }
    for (int c = 0; c < 3; ++c)
        if (!codec.tableOf(c)) {
            jpeg_abort_decompress(&src);
            return false;
        }
    requantise(coefficients);

    jpeg_copy_critical_parameters(&src, &dst);
    // The target's tables: luma in slot 0, chroma in slot 1, Cr in slot 2 only when its table
    // differs from Cb's (a shared table is written once).
    for (int c = 0; c < 3; ++c) {
        unsigned int table[64];
        for (size_t k = 0; k < 64; ++k)
            table[k] = m_target.tables[size_t(c)][k];
        const int slot = c == 0 ? 0 : (c == 2 && m_target.tables[2] != m_target.tables[1] ? 2 : 1);
        jpeg_add_quant_table(&dst, slot, table, 100, TRUE);
        dst.comp_info[c].quant_tbl_no = slot;
    }
    dst.optimize_coding = m_optimise ? TRUE : FALSE;
    dst.write_JFIF_header = TRUE;
    dst.restart_interval = 0;
    jpeg_write_coefficients(&dst, coefficients);
    jpeg_finish_compress(&dst);
    jpeg_finish_decompress(&src);
    return !codec.errors.damaged;
}

} // namespace qdx::vfw
