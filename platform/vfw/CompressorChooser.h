#pragma once

// The seam through which AVISaveOptions asks which of the compressors
// (platform/codec/Compressors.h) to use: the windows install a dialog, the command-line tool and
// the tests a chooser that answers from given options. Without an installed chooser, the answer is
// "Full Frames (Uncompressed)".

#include "platform/avifile/AviObjects.h"
#include "platform/codec/Compressors.h"
#include "platform/vfw/Vfw.h"

#include <QString>

#include <vector>

namespace qdx::vfw {

class CompressorChooser {
public:
    virtual ~CompressorChooser() = default;
    // Fills options[i] for each of the streams (video streams get a compressor, the others keep
    // their type only). `flags` are the ICMF_CHOOSE_* flags: which settings to offer. False when
    // the user cancels; the blocks are then left as they were.
    virtual bool choose(UINT flags, int streamCount, AviStream** streams,
                        AVICOMPRESSOPTIONS** options) = 0;
};

// Installs the program's chooser (not owned; nullptr restores the default). Returns the previous.
// Thread-safe.
CompressorChooser* setCompressorChooser(CompressorChooser* chooser);
CompressorChooser* installedCompressorChooser();

// Answers every question with the same options (by default "Full Frames (Uncompressed)"), or
// cancels, and counts the questions.
class PresetCompressorChooser : public CompressorChooser {
public:
    PresetCompressorChooser();
    explicit PresetCompressorChooser(const AVICOMPRESSOPTIONS& answer);

    void setAnswer(const AVICOMPRESSOPTIONS& answer);
    void setCancel(bool cancel) { m_cancel = cancel; }
    int timesAsked() const { return m_asked; }
    UINT lastFlags() const { return m_lastFlags; }

    bool choose(UINT flags, int streamCount, AviStream** streams,
                AVICOMPRESSOPTIONS** options) override;

private:
    AVICOMPRESSOPTIONS m_answer;
    bool m_cancel = false;
    int m_asked = 0;
    UINT m_lastFlags = 0;
};

// Copies a chooser's answer into a caller's block: every field but the memory the block owns
// (lpFormat, lpParms and their sizes), which stays as it was.
void fillOptions(AVICOMPRESSOPTIONS& block, const AVICOMPRESSOPTIONS& answer);

} // namespace qdx::vfw
