#!/usr/bin/env bash
# The recompression pipeline's threads under ThreadSanitizer, through qdx (built with it): small
# films that ffmpeg makes here, recompressed with two threads: Motion JPEG through the coefficient
# transcoders taking turns, MPEG-4 through the decoding and encoding threads, Motion JPEG into
# MPEG-4 through the twin decoders, a direct stream copy, and Motion JPEG pictures of a megabyte
# and more, which come from each decoder's own pool and are given back on the encoder's thread.
# (In that build every codec runs on one thread of FFmpeg's: libavcodec is not built with the
# sanitizer, and its own hand-overs would be reported; see contextThreads.) Any report stops qdx
# with an error (halt_on_error); each target must then hold every frame.
# Usage: recompress.sh QDX
set -euo pipefail
qdx=$(cd "$(dirname "${1:?qdx built with ThreadSanitizer}")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen QUADRIX_HOME="$work"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=r=44100 \
    -frames:v 40 -t 1.6 -c:v mjpeg -q:v 3 -c:a pcm_s16le "$work/mjpeg.avi"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=320x240:rate=25 -frames:v 40 \
    -c:v mpeg4 -q:v 4 -bf 2 -g 12 "$work/mpeg4.avi"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1024x768:rate=25 -frames:v 12 \
    -c:v mjpeg -q:v 3 "$work/large.avi"
frames() {
    ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
        -of csv=p=0 "$1"
}
run() {
    local expected=$1 target=$2
    shift 2
    "$qdx" "$@" --threads 2 --yes >/dev/null
    local got
    got=$(frames "$target")
    if [ "$got" != "$expected" ]; then
        echo "recompress.sh: $target holds $got frames, not $expected" >&2
        exit 1
    fi
    echo "ok: qdx $* ($got frames)"
}
run 40 "$work/a.avi" compress "$work/mjpeg.avi" "$work/a.avi" --codec MJPG --quality 50
run 40 "$work/b.avi" compress "$work/mpeg4.avi" "$work/b.avi" --codec XVID --quality 90
run 40 "$work/c.avi" compress "$work/mjpeg.avi" "$work/c.avi" --codec XVID --quality 90
run 24 "$work/d.avi" copy "$work/mpeg4.avi" 5 28 "$work/d.avi" --codec copy
run 12 "$work/e.avi" compress "$work/large.avi" "$work/e.avi" --codec XVID --quality 90
