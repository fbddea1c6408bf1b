#include "platform/vfwdialog/CompressorDialog.h"

#include "platform/codec/FrameConverter.h"
#include "platform/codec/VideoDecoder.h"
#include "platform/codec/VideoEncoder.h"
#include "platform/core/Dib.h"
#include "platform/vfw/FrameGetterImpl.h"
#include "platform/vfw/StreamCopy.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>
#include <optional>

namespace qdx::vfw {

namespace {

// The choice made last in this run.
std::optional<AVICOMPRESSOPTIONS> lastChoice;

constexpr int kPreviewWidth = 320;
constexpr int kPreviewHeight = 240;

// A picture for the preview when the stream has no frame to show: colours, gradients, lines and
// text, which show what a compressor does to each.
QImage testPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y,
                qRgb(x * 255 / std::max(1, width - 1), y * 255 / std::max(1, height - 1), 160));
    QPainter p(&image);
    const QColor bars[] = {Qt::white,   Qt::yellow, Qt::cyan, Qt::green,
                           Qt::magenta, Qt::red,    Qt::blue, Qt::black};
    const int barWidth = std::max(1, width / 8);
    for (int i = 0; i < 8; ++i)
        p.fillRect(i * barWidth, height / 2, barWidth, height / 4, bars[i]);
    p.setPen(Qt::black);
    for (int x = 0; x < width; x += 6)
        p.drawLine(x, height * 3 / 4, x, height);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(std::max(8, height / 8));
    p.setFont(font);
    p.drawText(QRect(0, 0, width, height / 2), Qt::AlignCenter, QStringLiteral("Quadrix"));
    return image;
}

// The list's entries: the compressors, then "Direct stream copy" when it is offered.
const Compressor& compressorAt(int index) {
    if (index >= int(compressors().size()))
        return streamCopyCompressor();
    return compressors()[size_t(std::max(0, index))];
}

} // namespace

CompressorDialog::CompressorDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Video Compression"));

    m_compressor = new QComboBox(this);
    for (const Compressor& c : compressors())
        m_compressor->addItem(c.name);

    m_qualityLabel = new QLabel(QStringLiteral("Compression quality:"), this);
    m_quality = new QSlider(Qt::Horizontal, this);
    m_quality->setRange(0, 100);
    m_qualityValue = new QLabel(this);
    m_qualityValue->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("100")));

    m_keyFrames = new QCheckBox(QStringLiteral("Key frame every"), this);
    m_keyFrameEvery = new QSpinBox(this);
    m_keyFrameEvery->setRange(1, 10000);
    m_keyFrameUnit = new QLabel(QStringLiteral("frames"), this);

    m_dataRate = new QCheckBox(QStringLiteral("Data rate"), this);
    m_dataRateValue = new QSpinBox(this);
    m_dataRateValue->setRange(1, 1000000);
    m_dataRateValue->setValue(300);
    m_dataRateUnit = new QLabel(QStringLiteral("KB/sec"), this);

    auto* settings = new QGridLayout;
    auto* compressorLabel = new QLabel(QStringLiteral("Compressor:"), this);
    // Screen readers name each field after its label (the check boxes name the spin boxes).
    compressorLabel->setBuddy(m_compressor);
    m_qualityLabel->setBuddy(m_quality);
    m_quality->setAccessibleName(QStringLiteral("Compression quality"));
    m_keyFrameEvery->setAccessibleName(QStringLiteral("Key frame every"));
    m_dataRateValue->setAccessibleName(QStringLiteral("Data rate"));
    settings->addWidget(compressorLabel, 0, 0);
    settings->addWidget(m_compressor, 0, 1, 1, 2);
    settings->addWidget(m_qualityLabel, 1, 0);
    settings->addWidget(m_quality, 1, 1);
    settings->addWidget(m_qualityValue, 1, 2);
    settings->addWidget(m_keyFrames, 2, 0);
    settings->addWidget(m_keyFrameEvery, 2, 1);
    settings->addWidget(m_keyFrameUnit, 2, 2);
    settings->addWidget(m_dataRate, 3, 0);
    settings->addWidget(m_dataRateValue, 3, 1);
    settings->addWidget(m_dataRateUnit, 3, 2);

    m_previewBox = new QGroupBox(QStringLiteral("Preview"), this);
    m_previewImage = new QLabel(m_previewBox);
    m_previewImage->setAlignment(Qt::AlignCenter);
    m_previewImage->setMinimumSize(kPreviewWidth / 2, kPreviewHeight / 2);
    m_previewSize = new QLabel(m_previewBox);
    auto* previewLayout = new QVBoxLayout(m_previewBox);
    previewLayout->addWidget(m_previewImage);
    previewLayout->addWidget(m_previewSize);

    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(settings);
    layout->addWidget(m_previewBox);
    layout->addWidget(m_buttons);

    // The preview follows the settings a moment after they stop changing (a slider being dragged
    // does not encode a frame at every step).
    m_previewTimer = new QTimer(this);
    m_previewTimer->setSingleShot(true);
    m_previewTimer->setInterval(150);
    connect(m_previewTimer, &QTimer::timeout, this, &CompressorDialog::updatePreview);

    connect(m_compressor, &QComboBox::currentIndexChanged, this, [this] {
        applyCompressor();
        schedulePreview();
    });
    connect(m_quality, &QSlider::valueChanged, this, [this](int value) {
        m_qualityValue->setText(QString::number(value));
        schedulePreview();
    });
    connect(m_keyFrames, &QCheckBox::toggled, this, [this](bool on) {
        m_keyFrameEvery->setEnabled(on && m_keyFrames->isEnabled());
        schedulePreview();
    });
    connect(m_keyFrameEvery, &QSpinBox::valueChanged, this, &CompressorDialog::schedulePreview);
    connect(m_dataRate, &QCheckBox::toggled, this, [this](bool on) {
        m_dataRateValue->setEnabled(on && m_dataRate->isEnabled());
        schedulePreview();
    });
    connect(m_dataRateValue, &QSpinBox::valueChanged, this, &CompressorDialog::schedulePreview);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &CompressorDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &CompressorDialog::reject);

    prepare(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW, nullptr);
}

CompressorDialog::~CompressorDialog() = default;

void CompressorDialog::forgetLastChoice() {
    lastChoice.reset();
}

void CompressorDialog::prepare(UINT flags, AviStream* stream) {
    m_flags = flags;
    m_stream = stream;
    m_source = QImage();
    m_previewPicture = QImage();
    m_previewBytes = -1;
    m_previewError.clear();
    m_previewBox->setVisible(flags & ICMF_CHOOSE_PREVIEW);
    m_keyFrames->setVisible(flags & ICMF_CHOOSE_KEYFRAME);
    m_keyFrameEvery->setVisible(flags & ICMF_CHOOSE_KEYFRAME);
    m_keyFrameUnit->setVisible(flags & ICMF_CHOOSE_KEYFRAME);
    m_dataRate->setVisible(flags & ICMF_CHOOSE_DATARATE);
    m_dataRateValue->setVisible(flags & ICMF_CHOOSE_DATARATE);
    m_dataRateUnit->setVisible(flags & ICMF_CHOOSE_DATARATE);

    const AVICOMPRESSOPTIONS start = lastChoice ? *lastChoice : defaultOptions(compressors()[0]);
    const Compressor* c = findCompressor(start.fccHandler);
    int index = c ? int(c - compressors().data()) : 0;
    const QSignalBlocker block(m_compressor);
    // "Direct stream copy" is offered only to a caller that copies from a source film.
    const int copyIndex = int(compressors().size());
    const bool offerCopy = streamCopyOffered();
    if (offerCopy && m_compressor->count() == copyIndex)
        m_compressor->addItem(streamCopyCompressor().name);
    if (!offerCopy && m_compressor->count() > copyIndex)
        m_compressor->removeItem(copyIndex);
    if (offerCopy && isStreamCopy(start.fccHandler))
        index = copyIndex;
    m_compressor->setCurrentIndex(index);
    applyCompressor();
    if (lastChoice) {
        setQuality(int(std::min<DWORD>(start.dwQuality, 10000)));
        setKeyFrameEvery((start.dwFlags & AVICOMPRESSF_KEYFRAMES) ? int(start.dwKeyFrameEvery) : 0);
        setDataRate((start.dwFlags & AVICOMPRESSF_DATARATE) ? int(start.dwBytesPerSecond / 1024)
                                                            : 0);
    }
    m_previewTimer->stop();
}

void CompressorDialog::applyCompressor() {
    const Compressor& c = compressorAt(m_compressor->currentIndex());
    m_quality->setValue(int(c.defaultQuality / 100));
    m_qualityValue->setText(QString::number(m_quality->value()));
    m_quality->setEnabled(c.hasQuality);
    m_qualityLabel->setEnabled(c.hasQuality);
    m_qualityValue->setEnabled(c.hasQuality);
    const bool keyFrames = c.hasKeyFrames && (m_flags & ICMF_CHOOSE_KEYFRAME);
    m_keyFrames->setEnabled(keyFrames);
    m_keyFrames->setChecked(c.hasKeyFrames);
    m_keyFrameEvery->setValue(int(std::max<DWORD>(1, c.defaultKeyFrameEvery)));
    m_keyFrameEvery->setEnabled(keyFrames);
    m_keyFrameUnit->setEnabled(keyFrames);
    const bool dataRate = c.hasDataRate && (m_flags & ICMF_CHOOSE_DATARATE);
    m_dataRate->setEnabled(dataRate);
    m_dataRate->setChecked(false);
    m_dataRateValue->setEnabled(false);
    m_dataRateUnit->setEnabled(dataRate);
}

int CompressorDialog::compressorIndex() const {
    return m_compressor->currentIndex();
}

bool CompressorDialog::qualityEnabled() const {
    return m_quality->isEnabled();
}

bool CompressorDialog::keyFramesOffered() const {
    return m_keyFrames->isVisibleTo(this) && m_keyFrames->isEnabled();
}

bool CompressorDialog::dataRateOffered() const {
    return m_dataRate->isVisibleTo(this) && m_dataRate->isEnabled();
}

bool CompressorDialog::previewOffered() const {
    return m_previewBox->isVisibleTo(this);
}

void CompressorDialog::selectCompressor(int index) {
    if (index >= 0 && index < m_compressor->count())
        m_compressor->setCurrentIndex(index);
}

void CompressorDialog::setQuality(int quality) {
    m_quality->setValue(std::clamp(quality, 0, 10000) / 100);
}

void CompressorDialog::setKeyFrameEvery(int frames) {
    if (!m_keyFrames->isEnabled())
        return;
    m_keyFrames->setChecked(frames > 0);
    if (frames > 0)
        m_keyFrameEvery->setValue(frames);
}

void CompressorDialog::setDataRate(int kilobytesPerSecond) {
    if (!m_dataRate->isEnabled())
        return;
    m_dataRate->setChecked(kilobytesPerSecond > 0);
    if (kilobytesPerSecond > 0)
        m_dataRateValue->setValue(kilobytesPerSecond);
}

AVICOMPRESSOPTIONS CompressorDialog::options() const {
    const Compressor& c = compressorAt(m_compressor->currentIndex());
    AVICOMPRESSOPTIONS o = defaultOptions(c);
    if (c.hasQuality)
        o.dwQuality = DWORD(m_quality->value()) * 100;
    if (c.hasKeyFrames) {
        if (m_keyFrames->isChecked()) {
            o.dwFlags |= AVICOMPRESSF_KEYFRAMES;
            o.dwKeyFrameEvery = DWORD(m_keyFrameEvery->value());
        } else {
            o.dwFlags &= ~AVICOMPRESSF_KEYFRAMES;
            o.dwKeyFrameEvery = 0;
        }
    }
    if (c.hasDataRate && m_dataRate->isChecked()) {
        o.dwFlags |= AVICOMPRESSF_DATARATE;
        o.dwBytesPerSecond = DWORD(m_dataRateValue->value()) * 1024;
    }
    return o;
}

void CompressorDialog::schedulePreview() {
    if (m_previewBox->isVisibleTo(this))
        m_previewTimer->start();
}

QImage CompressorDialog::sourcePicture() {
    if (!m_source.isNull())
        return m_source;
    int width = kPreviewWidth;
    int height = kPreviewHeight;
    if (m_stream) {
        AVISTREAMINFO info;
        if (m_stream->info(info) == AVIERR_OK && info.rcFrame.right > info.rcFrame.left &&
            info.rcFrame.bottom > info.rcFrame.top) {
            width = std::min(info.rcFrame.right - info.rcFrame.left, 4096);
            height = std::min(info.rcFrame.bottom - info.rcFrame.top, 4096);
        }
        // The stream's first frame, when it has frames to read.
        if (m_stream->length() > 0) {
            BITMAPINFOHEADER wanted;
            wanted.biBitCount = 32;
            std::unique_ptr<FrameGetterImpl> getter(
                FrameGetterImpl::create(m_stream, &wanted, nullptr));
            if (getter) {
                if (const void* dib = getter->frame(m_stream->start())) {
                    const BITMAPINFOHEADER& h = getter->outputHeader();
                    const size_t size = 40 + size_t(h.biSizeImage);
                    QString error;
                    const TBitmap bitmap = qdx::decodePackedDib(
                        std::span(static_cast<const uint8_t*>(dib), size), &error);
                    if (!bitmap.Empty())
                        m_source = bitmap.Image().convertToFormat(QImage::Format_RGB32);
                }
            }
        }
    }
    if (m_source.isNull())
        m_source = testPicture(width, height);
    return m_source;
}

void CompressorDialog::updatePreview() {
    m_previewTimer->stop();
    m_previewPicture = QImage();
    m_previewBytes = -1;
    m_previewError.clear();
    const AVICOMPRESSOPTIONS o = options();
    if (isStreamCopy(o.fccHandler)) {
        // Nothing is compressed: the film's stored frames go to the target as they are.
        m_previewImage->setPixmap(QPixmap());
        m_previewImage->setText(QString());
        m_previewError = QStringLiteral("The stored frames are copied as they are.");
        m_previewSize->setText(previewText());
        return;
    }
    const QImage source = sourcePicture();
    DWORD scale = 1;
    DWORD rate = 25;
    AVISTREAMINFO info;
    if (m_stream && m_stream->info(info) == AVIERR_OK && info.dwScale && info.dwRate) {
        scale = info.dwScale;
        rate = info.dwRate;
    }
    const qdx::DibLayout layout = qdx::dibLayoutOf(source, 32);
    std::vector<uint8_t> header(sizeof layout.header);
    std::memcpy(header.data(), &layout.header, sizeof layout.header);
    std::optional<VideoFormat> input = VideoFormat::parse(header, &m_previewError);
    HRESULT code = AVIERR_OK;
    std::unique_ptr<VideoEncoder> encoder;
    if (input)
        encoder = VideoEncoder::open(o, *input, scale, rate, &code, &m_previewError);
    VideoEncoder::Sample sample;
    if (encoder && encoder->encodeImage(source, 0) && encoder->finish() && encoder->take(sample)) {
        m_previewBytes = sample.data.size();
        if (!encoder->compressor().encoder) {
            m_previewPicture = source;
        } else {
            const QByteArray& f = encoder->format();
            std::optional<VideoFormat> compressed = VideoFormat::parse(
                std::span(reinterpret_cast<const uint8_t*>(f.constData()), size_t(f.size())),
                &m_previewError);
            std::unique_ptr<VideoDecoder> decoder;
            if (compressed)
                decoder = VideoDecoder::open(*compressed, encoder->fourcc(), 1, &m_previewError);
            if (decoder) {
                decoder->send(std::span(reinterpret_cast<const uint8_t*>(sample.data.constData()),
                                        size_t(sample.data.size())),
                              0, true);
                decoder->drain();
                if (const AVFrame* frame = decoder->take()) {
                    BITMAPINFOHEADER target;
                    target.biWidth = source.width();
                    target.biHeight = source.height();
                    target.biBitCount = 32;
                    FrameConverter converter(target);
                    m_previewPicture = converter.toImage(frame);
                }
            }
        }
    } else if (m_previewError.isEmpty()) {
        m_previewError = QStringLiteral("The frame could not be compressed.");
    }
    if (m_previewPicture.isNull()) {
        m_previewImage->setPixmap(QPixmap());
        m_previewImage->setText(m_previewError);
    } else {
        m_previewImage->setPixmap(QPixmap::fromImage(m_previewPicture.scaled(
            kPreviewWidth, kPreviewHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
    m_previewSize->setText(previewText());
}

QString CompressorDialog::previewText() const {
    if (m_previewBytes < 0)
        return m_previewError;
    const qsizetype full = qsizetype(m_source.width()) * m_source.height() * 3;
    const QLocale locale;
    QString text =
        QStringLiteral("Compressed frame: %1 bytes").arg(locale.toString(m_previewBytes));
    if (full > 0)
        text += QStringLiteral(" (%1% of the 24-bit frame)")
                    .arg(locale.toString(100.0 * double(m_previewBytes) / double(full), 'f', 1));
    return text;
}

int CompressorDialog::runModal() {
    return exec();
}

void CompressorDialog::accept() {
    lastChoice = options();
    QDialog::accept();
}

bool CompressorDialog::choose(UINT flags, int streamCount, AviStream** streams,
                              AVICOMPRESSOPTIONS** options) {
    AviStream* video = nullptr;
    for (int i = 0; i < streamCount && !video; ++i) {
        AVISTREAMINFO info;
        if (streams[i] && streams[i]->info(info) == AVIERR_OK && info.fccType == streamtypeVIDEO)
            video = streams[i];
    }
    prepare(flags, video);
    if (flags & ICMF_CHOOSE_PREVIEW)
        updatePreview();
    const bool accepted = runModal() == QDialog::Accepted;
    m_stream = nullptr;
    if (!accepted)
        return false;
    const AVICOMPRESSOPTIONS chosen = this->options();
    for (int i = 0; i < streamCount; ++i) {
        AVISTREAMINFO info;
        if (!streams[i] || !options[i] || streams[i]->info(info) != AVIERR_OK)
            return false;
        if (info.fccType == streamtypeVIDEO)
            fillOptions(*options[i], chosen);
        else
            options[i]->fccType = info.fccType;
    }
    return true;
}

} // namespace qdx::vfw
