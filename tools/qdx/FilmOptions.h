#pragma once

// What the film verbs share: the compressor options (--codec, --quality, --keyframe, --datarate),
// the answer to the engine's questions (--yes), keeping the sound (--sound), and a session that
// installs them around one engine with a progress line on a terminal.

#include "tools/qdx/Commands.h"

#include "avi/TAviCapture.h"
#include "platform/core/Prompts.h"
#include "platform/vfw/CompressorChooser.h"

namespace qdx::cli {

class FilmOptions {
public:
    static QStringList valueOptions();
    static QStringList flags();

    // Reads the options; false with error() when a value is wrong.
    bool parse(const CommandLine& line);
    QString error() const { return m_error; }

    bool sound() const { return m_sound; }
    bool yes() const { return m_yes; }
    const AVICOMPRESSOPTIONS& compressor() const { return m_options; }

private:
    AVICOMPRESSOPTIONS m_options;
    bool m_sound = false;
    bool m_yes = false;
    QString m_error;
};

// One engine with the options installed: the compressor chooser answers with the options, the
// engine's questions get --yes or No, and progress is drawn on standard error when it is a
// terminal. Everything is put back when the session ends.
class FilmSession {
public:
    explicit FilmSession(const FilmOptions& options);
    ~FilmSession();
    FilmSession(const FilmSession&) = delete;
    FilmSession& operator=(const FilmSession&) = delete;

    TAviCapture& engine() { return m_engine; }

private:
    void progress(const char* what, int percent);

    qdx::vfw::PresetCompressorChooser m_chooser;
    qdx::vfw::CompressorChooser* m_previousChooser;
    ConsolePrompts m_prompts;
    Prompts* m_previousPrompts;
    TAviCapture m_engine;
    bool m_terminal;
    int m_lastPercent = -1;
};

} // namespace qdx::cli
