// RIFF WAVE files as any program or a damaged disk leaves them: opening must give a result code or
// a sound stream, whose format and samples must all read without touching memory it does not own.
#include "fuzz/FilmFileWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qdx::fuzz::walkFilmFile(data, size, &qdx::vfw::openWaveFile);
}
