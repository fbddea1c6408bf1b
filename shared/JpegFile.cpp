#include "shared/JpegFile.h"

#include "shared/PictureError.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace qdx {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return. Ours formats the message
// and jumps back to the guard that started the libjpeg call, so the library never exits the
// program and no C++ frame is unwound by the jump (see guarded()).
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
    bool tooManyScans = false;
};

void errorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (manager->tooManyScans)
        std::snprintf(manager->message, sizeof manager->message, "too many progressive scans");
    else
        cinfo->err->format_message(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

// Warnings (corrupt data that libjpeg can step over) are not printed; the picture is kept.
void outputMessage(j_common_ptr) {}

void installErrorManager(ErrorManager& manager) {
    jpeg_std_error(&manager.pub);
    manager.pub.error_exit = errorExit;
    manager.pub.output_message = outputMessage;
}

// Runs `body`, which may only call libjpeg and touch objects that outlive this call and have no
// destructors running inside it, so that a jump out of libjpeg skips nothing. Returns false when
// libjpeg reported a fatal error.
template <class Body>
bool guarded(ErrorManager& manager, Body&& body) {
    if (setjmp(manager.jump))
        return false;
    body();
    return true;
}

// The compressed data is gathered in a vector that grows as libjpeg fills it.
struct VectorDestination {
    jpeg_destination_mgr pub;
    std::vector<JOCTET>* out;
};

void initDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->out->data();
    dest->pub.free_in_buffer = dest->out->size();
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    const size_t used = dest->out->size();
    try {
        dest->out->resize(used * 2);
    } catch (...) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    }
    dest->pub.next_output_byte = dest->out->data() + used;
    dest->pub.free_in_buffer = dest->out->size() - used;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->out->resize(dest->out->size() - dest->pub.free_in_buffer);
}

// Owners of the libjpeg objects; copies are deleted because each destroys its object once.
struct Compressor {
    Compressor() { installErrorManager(errors); }
    ~Compressor() {
        if (created)
            jpeg_destroy_compress(&cinfo);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    jpeg_compress_struct cinfo{};
    ErrorManager errors;
    bool created = false;
};

struct Decompressor {
    Decompressor() { installErrorManager(errors); }
    ~Decompressor() {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
    jpeg_decompress_struct cinfo{};
    ErrorManager errors;
    bool created = false;
};

// Hostile progressive files can hold thousands of tiny scans, each a pass over the whole picture.
constexpr int kMaxScans = 1000;

void checkScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor)
        return;
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > kMaxScans) {
        reinterpret_cast<ErrorManager*>(cinfo->err)->tooManyScans = true;
        cinfo->err->error_exit(cinfo);
    }
}

[[noreturn]] void failWith(const char* what, const ErrorManager& errors) {
    throw PictureError(
        QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(errors.message)));
}

} // namespace

QByteArray JpegFile::encode(const TBitmap& bitmap, int quality) {
    if (bitmap.Empty())
        throw PictureError(QStringLiteral("The picture is empty."));
    if (bitmap.Width() > JPEG_MAX_DIMENSION || bitmap.Height() > JPEG_MAX_DIMENSION)
        throw PictureError(
            QStringLiteral("The picture is too large for a JPEG file (at most %1 pixels a side).")
                .arg(JPEG_MAX_DIMENSION));

    // 24- and 32-bit rows go to libjpeg as they are stored; other depths are expanded first.
    QImage rows = bitmap.Image();
    J_COLOR_SPACE space = JCS_EXT_BGRX;
    if (rows.format() == QImage::Format_BGR888)
        space = JCS_EXT_BGR;
    else if (rows.format() != QImage::Format_RGB32)
        rows = rows.convertToFormat(QImage::Format_RGB32);
    const QImage& source = rows;

    std::vector<JOCTET> out(std::max<size_t>(size_t(bitmap.Width()) * bitmap.Height() / 4, 4096));
    VectorDestination destination{{}, &out};
    destination.pub.init_destination = initDestination;
    destination.pub.empty_output_buffer = emptyOutputBuffer;
    destination.pub.term_destination = termDestination;

    Compressor c;
    c.cinfo.err = &c.errors.pub;
    const bool ok = guarded(c.errors, [&] {
        jpeg_create_compress(&c.cinfo);
        c.created = true;
        c.cinfo.dest = &destination.pub;
        c.cinfo.image_width = JDIMENSION(source.width());
        c.cinfo.image_height = JDIMENSION(source.height());
        c.cinfo.input_components = space == JCS_EXT_BGR ? 3 : 4;
        c.cinfo.in_color_space = space;
        jpeg_set_defaults(&c.cinfo);
        jpeg_set_quality(&c.cinfo, quality, TRUE);
        jpeg_start_compress(&c.cinfo, TRUE);
        JSAMPROW batch[16];
        while (c.cinfo.next_scanline < c.cinfo.image_height) {
            JDIMENSION n = 0;
            for (; n < 16 && c.cinfo.next_scanline + n < c.cinfo.image_height; ++n)
                batch[n] =
                    const_cast<JSAMPROW>(source.constScanLine(int(c.cinfo.next_scanline + n)));
            jpeg_write_scanlines(&c.cinfo, batch, n);
        }
        jpeg_finish_compress(&c.cinfo);
    });
    if (!ok)
        failWith("Cannot encode the JPEG picture", c.errors);
    return QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(out.size()));
}

TBitmap JpegFile::decode(std::span<const uint8_t> file) {
    return decodeAtLeast(file, QSize());
}

// The smallest scale M/8 (M = 1..8) at which libjpeg's output is at least `atLeast` in both
// directions; libjpeg rounds scaled sizes up.
static unsigned scaleEighths(int64_t width, int64_t height, QSize atLeast) {
    for (unsigned m = 1; m < 8; ++m)
        if ((width * m + 7) / 8 >= atLeast.width() && (height * m + 7) / 8 >= atLeast.height())
            return m;
    return 8;
}

TBitmap JpegFile::decodeAtLeast(std::span<const uint8_t> file, QSize atLeast) {
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8)
        throw PictureError(QStringLiteral("The file is not a JPEG picture (no start marker)."));

    Decompressor d;
    d.cinfo.err = &d.errors.pub;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = checkScans;

    // Stage 1: the header, to learn the size and colour space before allocating.
    bool ok = guarded(d.errors, [&] {
        jpeg_create_decompress(&d.cinfo);
        d.created = true;
        d.cinfo.progress = &progress;
        jpeg_mem_src(&d.cinfo, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&d.cinfo, TRUE);
    });
    if (!ok)
        failWith("The JPEG file is damaged", d.errors);

    const bool scaled = atLeast.isValid();
    if (scaled && d.cinfo.image_width > 0 && d.cinfo.image_height > 0) {
        // DCT scaling: the reduced picture comes straight out of the coefficients, and fast
        // integer transforms and plain upsampling are good enough for a picture this small.
        d.cinfo.scale_num = scaleEighths(d.cinfo.image_width, d.cinfo.image_height, atLeast);
        d.cinfo.scale_denom = 8;
        d.cinfo.dct_method = JDCT_IFAST;
        d.cinfo.do_fancy_upsampling = FALSE;
        ok = guarded(d.errors, [&] { jpeg_calc_output_dimensions(&d.cinfo); });
        if (!ok)
            failWith("The JPEG file is damaged", d.errors);
    }
    // The limit applies to what is allocated: the full picture, or the reduced one.
    const int64_t width = scaled ? d.cinfo.output_width : d.cinfo.image_width;
    const int64_t height = scaled ? d.cinfo.output_height : d.cinfo.image_height;
    if (width <= 0 || height <= 0 || width * height > kMaxPicturePixels)
        throw PictureError(QStringLiteral("The JPEG picture has an unusable size (%1 x %2).")
                               .arg(d.cinfo.image_width)
                               .arg(d.cinfo.image_height));

    enum class Kind { Colour, Grey, Cmyk } kind = Kind::Colour;
    QImage image;
    if (d.cinfo.jpeg_color_space == JCS_GRAYSCALE) {
        kind = Kind::Grey;
        d.cinfo.out_color_space = JCS_GRAYSCALE;
        image = QImage(int(width), int(height), QImage::Format_Indexed8);
        QList<QRgb> greys;
        for (int i = 0; i < 256; ++i)
            greys.append(qRgb(i, i, i));
        image.setColorTable(greys);
    } else if (d.cinfo.jpeg_color_space == JCS_CMYK || d.cinfo.jpeg_color_space == JCS_YCCK) {
        kind = Kind::Cmyk;
        d.cinfo.out_color_space = JCS_CMYK;
        image = QImage(int(width), int(height), QImage::Format_RGB32);
    } else {
        d.cinfo.out_color_space = JCS_EXT_BGR;
        image = QImage(int(width), int(height), QImage::Format_BGR888);
    }
    if (image.isNull())
        throw PictureError(QStringLiteral("Not enough memory for the JPEG picture."));
    // Stage 2: the pixels. CMYK rows are decoded into the image's own row (4 bytes per pixel),
    // then turned into RGB in place.
    ok = guarded(d.errors, [&] {
        jpeg_start_decompress(&d.cinfo);
        while (d.cinfo.output_scanline < d.cinfo.output_height) {
            JSAMPROW row = image.scanLine(int(d.cinfo.output_scanline));
            if (jpeg_read_scanlines(&d.cinfo, &row, 1) != 1)
                break;
        }
    });
    if (!ok)
        failWith("The JPEG file is damaged", d.errors);
    // Rows that a damaged file never delivered are grey rather than uninitialised memory.
    for (int y = int(d.cinfo.output_scanline); y < image.height(); ++y)
        std::memset(image.scanLine(y), kind == Kind::Cmyk ? 0 : 128, size_t(image.bytesPerLine()));

    if (kind == Kind::Cmyk) {
        // Adobe writers store CMYK inverted (0 = full ink), which is nearly every CMYK JPEG.
        const bool inverted = d.cinfo.saw_Adobe_marker;
        for (int y = 0; y < image.height(); ++y) {
            uint8_t* p = image.scanLine(y);
            QRgb* out = reinterpret_cast<QRgb*>(p);
            for (int x = 0; x < image.width(); ++x) {
                int c = p[4 * x], m = p[4 * x + 1], yellow = p[4 * x + 2], k = p[4 * x + 3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    yellow = 255 - yellow;
                    k = 255 - k;
                }
                out[x] = qRgb(c * k / 255, m * k / 255, yellow * k / 255);
            }
        }
        return TBitmap(image, pf32bit);
    }
    return TBitmap(image, kind == Kind::Grey ? pf8bit : pf24bit);
}

} // namespace qdx
