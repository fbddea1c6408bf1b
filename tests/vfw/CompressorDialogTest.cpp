// The compressor dialog, driven through its slots on the offscreen platform (never exec()).

#include "platform/vfwdialog/CompressorDialog.h"
#include "platform/codec/FourccMap.h"
#include "platform/vfw/StreamCopy.h"
#include "tests/support/FilmMaker.h"
#include "tests/vfw/MemoryStream.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QLocale>

#include <functional>

using namespace qdx::vfw;
using namespace qdx::vfw::test;
using namespace qdx::test;

namespace {

int indexOf(FOURCC fourcc) {
    const Compressor* c = findCompressor(fourcc);
    return c ? int(c - compressors().data()) : -1;
}

// A dialog whose modal run is replaced by a script that drives the slots and answers.
class ScriptedDialog : public CompressorDialog {
public:
    std::function<int(CompressorDialog&)> script;
    int runs = 0;

protected:
    int runModal() override {
        ++runs;
        return script ? script(*this) : QDialog::Rejected;
    }
};

class CompressorDialogTest : public ::testing::Test {
protected:
    void SetUp() override { CompressorDialog::forgetLastChoice(); }
    void TearDown() override { CompressorDialog::forgetLastChoice(); }
};

// "Direct stream copy" is the list's last entry where there is a film to copy from, and nowhere
// else (not even as the choice remembered from such a call).
TEST_F(CompressorDialogTest, DirectStreamCopyIsOfferedOnlyWhereThereIsAFilmToCopy) {
    const int copyIndex = int(compressors().size());
    CompressorDialog dialog;
    dialog.prepare(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_PREVIEW, nullptr);
    dialog.selectCompressor(copyIndex);
    EXPECT_EQ(dialog.compressorIndex(), 0);
    {
        const StreamCopyOffer offer;
        dialog.prepare(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_PREVIEW, nullptr);
        dialog.selectCompressor(copyIndex);
        EXPECT_EQ(dialog.compressorIndex(), copyIndex);
        EXPECT_TRUE(isStreamCopy(dialog.options().fccHandler));
        EXPECT_FALSE(dialog.qualityEnabled());
        EXPECT_FALSE(dialog.keyFramesOffered());
        dialog.updatePreview();
        EXPECT_EQ(dialog.previewText(),
                  QStringLiteral("The stored frames are copied as they are."));
        dialog.accept();
        dialog.prepare(ICMF_CHOOSE_PREVIEW, nullptr);
        EXPECT_EQ(dialog.compressorIndex(), copyIndex);
    }
    dialog.prepare(ICMF_CHOOSE_PREVIEW, nullptr);
    EXPECT_EQ(dialog.compressorIndex(), 0);
    EXPECT_FALSE(isStreamCopy(dialog.options().fccHandler));
}

// The flags decide which settings are offered; the compressor decides which apply.
TEST_F(CompressorDialogTest, SettingsFollowTheFlagsAndTheCompressor) {
    CompressorDialog dialog;
    dialog.prepare(0, nullptr);
    EXPECT_EQ(dialog.compressorIndex(), 0); // "Full Frames (Uncompressed)" at first
    EXPECT_FALSE(dialog.keyFramesOffered());
    EXPECT_FALSE(dialog.dataRateOffered());
    EXPECT_FALSE(dialog.previewOffered());
    dialog.selectCompressor(indexOf(mmioFOURCC('H', '2', '6', '4')));
    EXPECT_TRUE(dialog.qualityEnabled());
    EXPECT_FALSE(dialog.keyFramesOffered());

    dialog.prepare(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW, nullptr);
    EXPECT_TRUE(dialog.previewOffered());
    dialog.selectCompressor(indexOf(mmioFOURCC('H', '2', '6', '4')));
    EXPECT_TRUE(dialog.qualityEnabled());
    EXPECT_TRUE(dialog.keyFramesOffered());
    EXPECT_TRUE(dialog.dataRateOffered());
    dialog.selectCompressor(indexOf(mmioFOURCC('F', 'F', 'V', '1')));
    EXPECT_FALSE(dialog.qualityEnabled()); // lossless
    EXPECT_FALSE(dialog.dataRateOffered());
    dialog.selectCompressor(0);
    EXPECT_FALSE(dialog.qualityEnabled());
    EXPECT_FALSE(dialog.keyFramesOffered());
    EXPECT_FALSE(dialog.dataRateOffered());
}

// What the slots set is what the options say.
TEST_F(CompressorDialogTest, OptionsCarryTheSettings) {
    CompressorDialog dialog;
    dialog.prepare(ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, nullptr);
    dialog.selectCompressor(indexOf(mmioFOURCC('X', 'V', 'I', 'D')));
    dialog.setQuality(3000);
    dialog.setKeyFrameEvery(7);
    dialog.setDataRate(100);
    AVICOMPRESSOPTIONS o = dialog.options();
    EXPECT_EQ(o.fccType, streamtypeVIDEO);
    EXPECT_EQ(o.fccHandler, mmioFOURCC('X', 'V', 'I', 'D'));
    EXPECT_EQ(o.dwQuality, 3000u);
    EXPECT_TRUE(o.dwFlags & AVICOMPRESSF_KEYFRAMES);
    EXPECT_EQ(o.dwKeyFrameEvery, 7u);
    EXPECT_TRUE(o.dwFlags & AVICOMPRESSF_DATARATE);
    EXPECT_EQ(o.dwBytesPerSecond, 100u * 1024);
    EXPECT_EQ(o.lpFormat, nullptr);
    EXPECT_EQ(o.lpParms, nullptr);
    dialog.setKeyFrameEvery(0);
    dialog.setDataRate(0);
    o = dialog.options();
    EXPECT_FALSE(o.dwFlags & AVICOMPRESSF_KEYFRAMES);
    EXPECT_FALSE(o.dwFlags & AVICOMPRESSF_DATARATE);
}

// Without a stream to show, the preview compresses a picture drawn in code; the size shown is
// the compressed frame's, and lower quality gives a smaller frame.
TEST_F(CompressorDialogTest, PreviewShowsACompressedTestPicture) {
    CompressorDialog dialog;
    dialog.prepare(ICMF_CHOOSE_PREVIEW, nullptr);
    dialog.updatePreview();
    EXPECT_EQ(dialog.previewBytes(), 320 * 240 * 4); // uncompressed 32-bit frame
    const QImage original = dialog.previewPicture();
    ASSERT_FALSE(original.isNull());
    EXPECT_EQ(original.size(), QSize(320, 240));

    dialog.selectCompressor(indexOf(mmioFOURCC('M', 'J', 'P', 'G')));
    dialog.setQuality(9500);
    dialog.updatePreview();
    const qsizetype fine = dialog.previewBytes();
    EXPECT_GT(fine, 0);
    EXPECT_LT(fine, 320 * 240 * 3);
    EXPECT_GT(psnr(imageToBgr24(dialog.previewPicture()), imageToBgr24(original)), 25.0);
    EXPECT_TRUE(dialog.previewText().contains(QLocale().toString(fine)))
        << dialog.previewText().toStdString();
    dialog.setQuality(500);
    dialog.updatePreview();
    EXPECT_LT(dialog.previewBytes(), fine);

    dialog.selectCompressor(indexOf(mmioFOURCC('F', 'F', 'V', '1')));
    dialog.updatePreview();
    EXPECT_TRUE(imageToBgr24(dialog.previewPicture()) == imageToBgr24(original));
}

// With a stream that has frames, the preview compresses its first frame.
TEST_F(CompressorDialogTest, PreviewUsesTheStreamsFirstFrame) {
    AVISTREAMINFO info;
    info.fccType = streamtypeVIDEO;
    info.dwScale = 1;
    info.dwRate = 25;
    StreamHandle stream(new MemoryStream(info));
    QImage frame(40, 30, QImage::Format_RGB32);
    frame.fill(qRgb(10, 200, 30));
    const qdx::DibLayout layout = qdx::dibLayoutOf(frame, 24);
    ASSERT_EQ(AVIStreamSetFormat(stream.get(), 0, &layout.header, sizeof layout.header), AVIERR_OK);
    std::vector<uint8_t> bits(layout.header.biSizeImage);
    qdx::writeDibBits(frame, layout, bits.data());
    ASSERT_EQ(AVIStreamWrite(stream.get(), 0, 1, bits.data(), LONG(bits.size()), AVIIF_KEYFRAME,
                             nullptr, nullptr),
              AVIERR_OK);
    CompressorDialog dialog;
    dialog.prepare(ICMF_CHOOSE_PREVIEW, stream.get());
    dialog.selectCompressor(indexOf(mmioFOURCC('H', 'F', 'Y', 'U')));
    dialog.updatePreview();
    EXPECT_TRUE(imageToBgr24(dialog.previewPicture()) == imageToBgr24(frame));
}

// Accepting fills the video stream's block and leaves the audio block its type; the choice is
// remembered for the next question; cancelling answers false and changes nothing.
TEST_F(CompressorDialogTest, ChooseFillsTheBlocksAndRemembersTheChoice) {
    AVISTREAMINFO videoInfo;
    videoInfo.fccType = streamtypeVIDEO;
    videoInfo.rcFrame.right = 64;
    videoInfo.rcFrame.bottom = 48;
    StreamHandle video(new MemoryStream(videoInfo));
    AVISTREAMINFO audioInfo;
    audioInfo.fccType = streamtypeAUDIO;
    StreamHandle audio(new MemoryStream(audioInfo));
    PAVISTREAM streams[2] = {video.get(), audio.get()};
    AVICOMPRESSOPTIONS videoOptions;
    AVICOMPRESSOPTIONS audioOptions;
    LPAVICOMPRESSOPTIONS blocks[2] = {&videoOptions, &audioOptions};

    ScriptedDialog dialog;
    dialog.script = [](CompressorDialog& d) {
        EXPECT_TRUE(d.previewOffered());
        EXPECT_GT(d.previewBytes(), 0); // the preview was made before the dialog showed
        EXPECT_EQ(d.previewPicture().size(), QSize(64, 48));
        d.selectCompressor(indexOf(mmioFOURCC('M', 'J', 'P', 'G')));
        d.setQuality(4200);
        d.accept();
        return d.result();
    };
    setCompressorChooser(&dialog);
    ASSERT_TRUE(
        AVISaveOptions(nullptr, ICMF_CHOOSE_PREVIEW | ICMF_CHOOSE_DATARATE, 2, streams, blocks));
    EXPECT_EQ(dialog.runs, 1);
    EXPECT_EQ(videoOptions.fccHandler, mmioFOURCC('M', 'J', 'P', 'G'));
    EXPECT_EQ(videoOptions.dwQuality, 4200u);
    EXPECT_EQ(audioOptions.fccType, streamtypeAUDIO);

    // A new dialog in the same run starts from that choice.
    ScriptedDialog second;
    second.script = [](CompressorDialog& d) {
        EXPECT_EQ(d.compressorIndex(), indexOf(mmioFOURCC('M', 'J', 'P', 'G')));
        EXPECT_EQ(d.options().dwQuality, 4200u);
        d.reject();
        return d.result();
    };
    setCompressorChooser(&second);
    AVICOMPRESSOPTIONS untouched;
    LPAVICOMPRESSOPTIONS one[1] = {&untouched};
    EXPECT_FALSE(AVISaveOptions(nullptr, 0, 1, streams, one));
    EXPECT_EQ(second.runs, 1);
    EXPECT_EQ(untouched.fccHandler, 0u);
    setCompressorChooser(nullptr);
}

} // namespace
