// RIFF AVI files as any program, a killed recording or a damaged disk leaves them: opening must
// give a result code or a film, and every stream, format and sample of that film must read
// without touching memory it does not own.
#include "fuzz/FilmFileWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qdx::fuzz::walkFilmFile(data, size, &qdx::vfw::openRiffAviFile);
}
