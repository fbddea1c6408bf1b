#pragma once

// The compressor dialog: the list of compressors, a quality slider, "Key frame every" and
// "Data rate" boxes (offered as the flags ask and as the chosen compressor allows), and a preview
// of one frame compressed with the settings shown, with its size. It remembers the last choice
// made for the rest of the run. Installed with qdx::vfw::setCompressorChooser, it answers
// AVISaveOptions; Cancel answers false.

#include "platform/vfw/CompressorChooser.h"

#include <QDialog>
#include <QImage>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QGroupBox;
class QLabel;
class QSlider;
class QSpinBox;
class QTimer;

namespace qdx::vfw {

class CompressorDialog : public QDialog, public CompressorChooser {
    Q_OBJECT
public:
    explicit CompressorDialog(QWidget* parent = nullptr);
    ~CompressorDialog() override;

    // Shows the dialog modally for the first video stream and fills the options of every stream.
    bool choose(UINT flags, int streamCount, AviStream** streams,
                AVICOMPRESSOPTIONS** options) override;

    // Sets the dialog up for a video stream (nullptr: none) and the ICMF_CHOOSE_* flags, with the
    // last choice of this run selected (else "Full Frames (Uncompressed)").
    void prepare(UINT flags, AviStream* stream);
    // The options the dialog shows now.
    AVICOMPRESSOPTIONS options() const;

    int compressorIndex() const;
    bool qualityEnabled() const;
    bool keyFramesOffered() const;
    bool dataRateOffered() const;
    bool previewOffered() const;
    // The last preview: the picture decoded back from the compressed frame, and its size.
    QImage previewPicture() const { return m_previewPicture; }
    qsizetype previewBytes() const { return m_previewBytes; }
    QString previewText() const;

    // The choice remembered for the run (tests start from a clean slate).
    static void forgetLastChoice();

public Q_SLOTS:
    void selectCompressor(int index);
    void setQuality(int quality);             // 0..10000
    void setKeyFrameEvery(int frames);        // 0: no forced key frames
    void setDataRate(int kilobytesPerSecond); // 0: no data rate
    void updatePreview();
    void accept() override;

protected:
    // Shows the dialog and waits for the user's answer (QDialog::exec); a test replaces it.
    virtual int runModal();

private:
    void applyCompressor();
    void schedulePreview();
    QImage sourcePicture();

    UINT m_flags = 0;
    AviStream* m_stream = nullptr;
    QImage m_source;
    QImage m_previewPicture;
    qsizetype m_previewBytes = -1;
    QString m_previewError;

    QComboBox* m_compressor;
    QLabel* m_qualityLabel;
    QSlider* m_quality;
    QLabel* m_qualityValue;
    QCheckBox* m_keyFrames;
    QSpinBox* m_keyFrameEvery;
    QLabel* m_keyFrameUnit;
    QCheckBox* m_dataRate;
    QSpinBox* m_dataRateValue;
    QLabel* m_dataRateUnit;
    QGroupBox* m_previewBox;
    QLabel* m_previewImage;
    QLabel* m_previewSize;
    QDialogButtonBox* m_buttons;
    QTimer* m_previewTimer;
};

} // namespace qdx::vfw
