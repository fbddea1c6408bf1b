#pragma once

// Builds the sample tables of an AVI file being read. Sources, best first: the OpenDML indexes
// (an indx super index per stream pointing at ix## standard indexes), the AVI 1.0 idx1 (offsets
// from the file start or from the movi list, whichever the entries match), and a scan of the movi
// lists. Whatever the index leaves out at the end (a recording that was killed, an index cut
// short, extents written after it) is found by scanning on from the last indexed chunk, so such a
// file opens with every whole sample it holds.

#include "platform/avifile/AviStreamData.h"
#include "platform/avifile/RiffReader.h"

#include <optional>
#include <vector>

namespace qdx::vfw {

// One movi list of the file: the first RIFF's, then one per AVIX extent.
struct MoviList {
    int64_t formOffset = 0; // the "movi" form type, from which idx1 offsets may count
    int64_t begin = 0;      // the first chunk inside
    int64_t end = 0;        // the declared end, within the file
};

class AviIndex {
public:
    enum class Source { None, OpenDml, Idx1, Scan };

    // Fills the `samples` table of every stream.
    static Source build(const RiffReader& reader, std::vector<AviStreamData>& streams,
                        const std::vector<MoviList>& movi, const std::optional<RiffChunk>& idx1);

private:
    static bool fromOpenDml(const RiffReader& reader, std::vector<AviStreamData>& streams);
    static bool fromIdx1(const RiffReader& reader, std::vector<AviStreamData>& streams,
                         const std::vector<MoviList>& movi, const RiffChunk& idx1);
    static void scanFrom(const RiffReader& reader, std::vector<AviStreamData>& streams,
                         const std::vector<MoviList>& movi, int64_t from);
};

} // namespace qdx::vfw
