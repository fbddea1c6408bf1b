#pragma once

// TAviCapture: the AVI engine. Every window that works on films owns one instance. It reads films
// and fetches frames, writes new films through a compressor the user chooses, copies sound, cuts
// and joins films, and records the screen on a worker thread. All film work goes through the AVI
// layer (platform/vfw); bitmaps are TBitmaps.

#include "platform/core/TBitmap.h"
#include "platform/core/WorkFileLock.h"
#include "platform/vfw/Vfw.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class TAviCapture;
class TThreadCaptura;

namespace qdx {
class Clock;
namespace x11 {
class ScreenSource;
} // namespace x11
} // namespace qdx

// Frame sources of a recording: copies of the screen, or the component's bitmap queue.
enum TTipoCaptura { tcTela, tcBitmap };

// Events. `Sender` is the component; `FAbort` starts false at every call, and a handler that sets
// it true cancels the running operation.
using TCallBackCompress = std::function<void(int I, TAviCapture* Sender, bool& FAbort)>;
using TExtractFramesProgress =
    std::function<void(int Max, int Min, int Value, TAviCapture* Sender, bool& FAbort)>;
// Raised on the recording thread.
using TCapturing = std::function<void(int LengthTime, TAviCapture* Sender)>;
using TOnStop = std::function<void(bool Resultao)>;
// What a film editing operation came to: its target(s) written whole, cancelled by the user (the
// compressor dialog closed, a progress handler's abort, a No to the engine's question), or failed,
// with the reason in the system's words, naming the film.
struct FilmOutcome {
    enum Kind { Succeeded, Cancelled, Failed };
    Kind kind = Succeeded;
    QString reason; // Failed only
    bool succeeded() const { return kind == Succeeded; }
    bool failed() const { return kind == Failed; }
};

// Raised on the recording thread when a recording ends with an error instead of OnStop (the film
// could not be created, or the recording broke off); `Message` is the text of RecordingError.
using TOnRecordingError = std::function<void(const QString& Message)>;

class TAviCapture : public QObject {
public:
    explicit TAviCapture(QObject* owner = nullptr);
    ~TAviCapture() override;

    // Published properties, with their defaults after construction.
    const QStringList& AVIList() const { return m_aviList; }
    void SetAVIList(const QStringList& list) { m_aviList = list; }
    TCallBackCompress OnProgress;
    TOnStop OnStop;
    TExtractFramesProgress OnExtractFramesProgress;
    int Height = 0;      // screen height div 10; stored only
    int Width = 0;       // screen width div 10; stored only
    int Scale = 1;       // time scale of the recording stream
    int Rate = 1;        // rate of the recording stream: frames per second = Rate / Scale
    bool Stretch = true; // stored only
    QString FileName;    // target film of a recording
    QString WavFileName; // stored only
    TTipoCaptura TipoCaptura = tcTela;
    TPixelFormat PixelFormat = pf32bit;
    double Duracao = 0;                             // stored only
    bool Paused() const { return m_paused.load(); } // thread-safe
    bool PermitirCompactacao = false;
    // Compress while recording: the film is written with LiveCompressor's compressor as it is
    // recorded, on an encoding thread of its own, straight to FileName (no work file, whatever
    // PermitirCompactacao says). Frames the encoder cannot keep up with are dropped
    // (DroppedFrames).
    bool CompressWhileRecording = false;
    AVICOMPRESSOPTIONS LiveCompressor{};
    // Raised on the encoding thread of such a recording after each frame written, with the
    // frames still waiting for the encoder.
    std::function<void(int Position, int Waiting)> OnFrameEncoded;
    // The recording goes to the work file (RecordingTempFile), to be compressed after Stop.
    bool recordsToWorkFile() const { return PermitirCompactacao && !CompressWhileRecording; }
    TCapturing OnCapturing;
    TOnRecordingError OnRecordingError;
    bool Recording() const { return m_recording.load(); } // thread-safe
    int Frames = 0;
    int WidthResolution = 0;
    int HeightResolution = 0;
    QString FileType;

    // Reading (the frame reader and film information).
    bool OpenFilm(const QString& fileName);
    std::unique_ptr<TBitmap> GetFrame(int index);
    void CloseFilm();
    bool ReadFileInfo(const QString& fileName);
    bool GetFrameRange(const QString& fileName, int& firstFrame, int& lastFrame);
    bool HasSound(const QString& fileName);
    void ShowError(const QString& text);
    bool AskYesNo(const QString& text);

    // Bitmaps as device-independent bitmaps.
    bool FillDibHeader(const TBitmap& bitmap, BITMAPINFOHEADER& header, TPixelFormat pixelFormat);
    void MeasureDib(const TBitmap& bitmap, TPixelFormat pixelFormat, int& headerSize,
                    int& imageSize);
    // `palette` may be null (the bitmap's own colours, or the fixed palette of the depth).
    bool ReadDibBits(const TBitmap& bitmap, const QList<QRgb>* palette, TPixelFormat pixelFormat,
                     uint8_t* bits, uint8_t* header);
    static int RowBytes(int width, int bitsPerPixel, int alignment);

    // Writing and compression.
    bool ExtractFrames(int first, int last, const QString& source, const QString& target,
                       AVICOMPRESSOPTIONS* options = nullptr);
    bool ExcludeFrames(int first, int last, const QString& source, const QString& target,
                       AVICOMPRESSOPTIONS* options = nullptr);
    bool ConcatenateFrames(const QStringList& films, const QString& target, int total,
                           AVICOMPRESSOPTIONS* options = nullptr);
    bool ExtractSound(int first, int last, const QString& source, const QString& target,
                      int append);
    bool ExcludeSound(int first, int last, const QString& source, const QString& target);
    bool ConcatenateSound(const QStringList& films, const QString& target, int total);
    void MergeStreams(const AVICOMPRESSOPTIONS* options, const QString& videoFile,
                      const QString& soundFile, const QString& target);
    bool CompressFile(const QString& source, const QString& target);
    static QString NewTempName();

    // Frame-range editing. Nothing is shown: the caller shows a failure's reason.
    FilmOutcome CopySelection(bool keepSound, int first, int last, const QString& source,
                              const QString& target);
    FilmOutcome RemoveSelection(bool keepSound, int first, int last, const QString& source,
                                const QString& target);
    // Refused before anything is written when a part's name names the source film (the same
    // file by device and inode, through links): every part reads the source as it was.
    FilmOutcome SplitFilm(bool keepSound, int first, int last, int parts, const QString& source,
                          const QString& target);
    FilmOutcome JoinFilms(bool keepSound, const QStringList& films, const QString& target,
                          int total);
    // Which file a path names: device and inode, links followed; nullopt when it names none. A
    // film written over a name is a new file there (it is renamed into place).
    static std::optional<std::pair<quint64, quint64>> FileIdentity(const QString& path);
    // True when both paths name one existing file.
    static bool SameFile(const QString& a, const QString& b);
    // The name of part `part` (1-based) of a split into parts of `target`.
    static QString SplitPartName(const QString& target, int part);
    // After a frame operation by direct stream copy that could not cut at the frames asked for
    // (a codec without an encoder here starts the copy at the key frame before): the frames the
    // target holds (ExtractFrames) or that were left out (ExcludeFrames). Empty otherwise.
    std::optional<std::pair<int, int>> StreamCopyRange() const { return m_streamCopyRange; }

    // Screen recording.
    void StartRecording();
    void PauseRecording();  // thread-safe
    void ResumeRecording(); // thread-safe
    void StopRecording();
    // The bitmap queue, source of tcBitmap recordings.
    std::vector<std::unique_ptr<TBitmap>>& Bitmaps() { return m_bitmaps; }
    // The recording temp file: the application folder, NewTempName and ".avi". Named at
    // construction for the first recording; every later recording that compresses gets a new one
    // (StartRecording), so the work file of an earlier recording is never written over.
    const QString& RecordingTempFile() const { return m_recordingTempFile; }
    // The caller has moved the recording temp file to its film (or removed it, or kept it with
    // WorkFileLock::keepRecording): the work-file lock no longer belongs on it.
    void ReleaseRecordingTempFile();
    // The screen the recording copies (the X server's primary monitor unless replaced: tests
    // give a fake screen).
    void SetScreenSource(std::shared_ptr<qdx::x11::ScreenSource> source);
    // The clock recordings are paced by (the machine's steady clock unless replaced).
    void SetClock(std::shared_ptr<qdx::Clock> clock);
    // Frames of the last recording that the machine could not grab in time: their positions stay
    // empty (players hold the previous picture), so the film lasts as long as the recording did.
    int DroppedFrames() const;
    // The error that ended the last recording's thread, empty when none.
    QString RecordingError() const;

private:
    friend class TThreadCaptura;

    // Opening a source film: AVIFileInit, open for reading (open errors shown), file info, first
    // video stream. On failure everything is released and AVIFileExit called.
    bool openSource(const QString& fileName, PAVIFILE& file, PAVISTREAM& stream,
                    bool showErrors = true);
    // The text shown for a result of AVIFileOpen.
    static QString openErrorText(HRESULT code);
    // A packed DIB from a frame getter as a display bitmap (pfDevice).
    static std::unique_ptr<TBitmap> bitmapOfPackedDib(const void* packedDib);
    // Scales a picture of another size into width x height, keeping its proportions, centred on
    // black: frames written into a stream must all have the stream's size.
    static void fitInto(TBitmap& frame, int width, int height);
    // Sizes and allocates the DIB buffers, zero-filled, for a bitmap at a pixel format.
    void allocateDibBuffers(const TBitmap& bitmap, TPixelFormat pixelFormat);
    void releaseDibBuffers();

    enum class FrameOperation { Extract, Exclude, Concatenate };
    bool runFramePipeline(FrameOperation operation, int first, int last, const QString& source,
                          const QStringList& films, const QString& target, int total,
                          AVICOMPRESSOPTIONS* options);
    // MergeStreams with its outcome: true when the target film was written whole.
    bool mergeStreams(const AVICOMPRESSOPTIONS* options, const QString& videoFile,
                      const QString& soundFile, const QString& target);
    bool raiseFrameProgress(int max, int min, int value);
    // The frame pipeline's steps 10 to 13 by direct stream copy: the source's samples go to the
    // target stream as they are (frames between key frames at the ends of a range re-encoded).
    bool copyFrames(FrameOperation operation, int first, int last, PAVISTREAM source,
                    PGETFRAME sourceGetter, const QStringList& films, PAVISTREAM targetStream,
                    int progressMax, int progressMin, int framingValue);
    std::optional<std::pair<int, int>> m_streamCopyRange;

    // Why the running editing operation stopped: the user's cancel, or the first failure's
    // reason. Reset when an operation begins.
    void beginOperation();
    // Records a failure's reason (the first one counts) and returns false.
    bool fail(const QString& message, const QString& path);
    // A failure of the system call just made on `path`: the message with the system's reason.
    bool failWithErrno(const QString& message, const QString& path);
    FilmOutcome outcomeOf(bool written, const QString& target) const;
    bool m_cancelled = false;
    QString m_failure;

    QStringList m_aviList;

    // The frame reader: file, first video stream and frame getter; all empty when closed.
    PAVIFILE m_readerFile = nullptr;
    PAVISTREAM m_readerStream = nullptr;
    PGETFRAME m_readerGetter = nullptr;

    // The DIB buffers every frame write converts its bitmap into.
    std::vector<uint8_t> m_dibHeader;
    std::vector<uint8_t> m_dibBits;

    // Recording state.
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_recording{false};
    std::vector<std::unique_ptr<TBitmap>> m_bitmaps;
    QString m_recordingTempFile;
    bool m_recordingTempUsed = false; // a recording has written into m_recordingTempFile
    // Held from the recording into the temp file until the caller releases it (or the component
    // goes), so that the clean-up of temporary files leaves the recording (and its later
    // compression) alone.
    qdx::WorkFileLock m_recordingLock;
    std::unique_ptr<TThreadCaptura> m_thread;
    std::shared_ptr<qdx::x11::ScreenSource> m_screenSource;
    std::shared_ptr<qdx::Clock> m_clock;
};

// The component that runs MergeStreams: the save callback of the AVI layer carries only a
// percentage. One merge runs at a time.
extern TAviCapture* MergeReference;
