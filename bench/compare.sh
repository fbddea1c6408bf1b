#!/usr/bin/env bash
# Runs each benchmark of a build against its reference tool in the same run, on the same input,
# and prints the medians and their ratios. One function per group; main runs them all (or the
# groups named on the command line). Usage: bench/compare.sh BUILD_DIR [GROUP...]
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# The median in milliseconds of a hyperfine run of one command.
median_ms() {
    local runs=$1
    shift
    hyperfine --style none --warmup 1 --runs "$runs" --export-json "$work/h.json" "$@" >/dev/null
    /usr/bin/python3 -c 'import json,sys; print("%.3f" % (json.load(open(sys.argv[1]))["results"][0]["median"] * 1000))' "$work/h.json"
}

# A private 1920x1080x24 X server with MIT-SHM: sets xvfb_display and xvfb_pid.
start_xvfb() {
    rm -f "$work/display"
    Xvfb -displayfd 9 -screen 0 1920x1080x24 -nolisten tcp +extension MIT-SHM \
        9>"$work/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    xvfb_display=":$(head -n1 "$work/display")"
}

stop_xvfb() {
    kill "$xvfb_pid"
    wait "$xvfb_pid" 2>/dev/null || true
}

ratio() { /usr/bin/python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }

# Picture saving: SalvarImagem against cjpeg (JPEG) and ImageMagick (GIF), and BMP against
# copying and writing the pixel bytes, on one 1920x1080 photographic picture.
pictures() {
    echo "== pictures"
    local picture="$work/picture.bmp"
    convert -seed 7 -size 1920x1080 plasma:fractal -blur 0x1 BMP3:"$picture"
    "$build/bin/picture_bench" "$picture" "$work" 15 | tee "$work/ours.txt"
    local ours_jpg ours_gif ours_bmp copy write
    ours_jpg=$(awk '/^SalvarImagem_jpg/ {print $2}' "$work/ours.txt")
    ours_gif=$(awk '/^SalvarImagem_gif/ {print $2}' "$work/ours.txt")
    ours_bmp=$(awk '/^SalvarImagem_bmp/ {print $2}' "$work/ours.txt")
    copy=$(awk '/^memcpy_pixels/ {print $2}' "$work/ours.txt")
    write=$(awk '/^write_pixels/ {print $2}' "$work/ours.txt")
    local encode
    encode=$(awk '/^BmpFile_encode_in_memory/ {print $2}' "$work/ours.txt")
    local cjpeg convert
    cjpeg=$(median_ms 15 "cjpeg -quality 90 -outfile $work/ref.jpg $picture")
    convert=$(median_ms 5 "/usr/bin/convert $picture +dither -colors 256 $work/ref.gif")
    local tool
    tool=$(median_ms 15 "$build/bin/qdx picture $picture $work/tool.jpg")
    echo "cjpeg -quality 90: $cjpeg ms; SalvarImagem JPEG: $ours_jpg ms; ratio $(ratio "$ours_jpg" "$cjpeg") (target <= 1.10)"
    echo "qdx picture to JPEG, whole process (start-up and BMP reading included): $tool ms; ratio $(ratio "$tool" "$cjpeg")"
    echo "convert +dither -colors 256: $convert ms; SalvarImagem GIF: $ours_gif ms; speed-up $(ratio "$convert" "$ours_gif")x (target >= 5)"
    echo "BMP file built in memory: $encode ms; memcpy of the pixels: $copy ms; ratio $(ratio "$encode" "$copy")"
    echo "SalvarImagem BMP: $ours_bmp ms; memcpy of the pixels: $copy ms; writing the pixels to a file: $write ms; ratio to the write $(ratio "$ours_bmp" "$write")"
}

# Frame fetching: sequential AVIStreamGetFrame over 300-frame 1280x720 films (Motion JPEG, MPEG-4
# ASP with B-frames, H.264) against "ffmpeg -threads N -i FILM -f null -" at the same decoder
# thread count; both as whole processes, runs interleaved so that other load hits both alike.
# Then 200 random jumps per film: the most samples one jump decoded against the longest group of
# pictures (the target: one group at most).
# Appends the wall time and the CPU time (user, system) of one run of a command to a file.
timed_run() {
    local out=$1
    shift
    /usr/bin/python3 -c 'import resource, subprocess, sys, time
start = time.monotonic()
subprocess.run(sys.argv[2:], check=True, stdout=subprocess.DEVNULL)
wall = time.monotonic() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
open(sys.argv[1], "a").write("%f %f %f\n" % (wall, usage.ru_utime, usage.ru_stime))' "$out" "$@"
}

films() {
    echo "== films"
    local runs=${FILM_RUNS:-5}
    local name args
    for film_args in "mjpeg:-c:v mjpeg -q:v 3" "mpeg4:-c:v mpeg4 -q:v 4 -bf 2 -g 50" "h264:-c:v libx264 -g 50"; do
        name=${film_args%%:*}
        args=${film_args#*:}
        # shellcheck disable=SC2086
        ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v 300 $args "$work/$name.avi"
        for threads in 1 2; do
            : >"$work/ffmpeg.txt"
            : >"$work/ours.txt"
            for _ in $(seq "$runs"); do
                timed_run "$work/ffmpeg.txt" ffmpeg -v error -threads "$threads" -i "$work/$name.avi" -f null -
                timed_run "$work/ours.txt" "$build/bin/getframe_bench" "$work/$name.avi" "$threads" sequential
            done
            /usr/bin/python3 - "$work/ffmpeg.txt" "$work/ours.txt" "$name" "$threads" <<'PY'
import statistics, sys
def load(path):
    rows = [list(map(float, line.split())) for line in open(path) if line.strip()]
    return statistics.median(r[0] for r in rows), statistics.median(r[1] + r[2] for r in rows)
fw, fc = load(sys.argv[1])
ow, oc = load(sys.argv[2])
print("%s, %s thread(s): ffmpeg %.0f fps (%.2f s, cpu %.2f s); GetFrame %.0f fps (%.2f s, cpu %.2f s); "
      "frame-rate ratio %.2f (target >= 1.0), cpu ratio %.2f"
      % (sys.argv[3], sys.argv[4], 300 / fw, fw, fc, 300 / ow, ow, oc, fw / ow, fc / oc))
PY
        done
        echo "$name random access: $("$build/bin/getframe_bench" "$work/$name.avi" 0 random)"
    done
}

# Stepping through a film in the split window's viewer (viewer_bench: the slider event's fetch,
# the copy into the picture control and the paint, offscreen) against "ffmpeg -threads 1 -i FILM
# -f null -" on 300-frame 1280x720 films (Motion JPEG, H.264), runs interleaved; then 200 random
# jumps, and the resident memory while stepping through a 10-minute film.
viewer() {
    echo "== viewer"
    local runs=${FILM_RUNS:-5}
    local name args
    for film_args in "mjpeg:-c:v mjpeg -q:v 3" "h264:-c:v libx264 -g 50"; do
        name=${film_args%%:*}
        args=${film_args#*:}
        # shellcheck disable=SC2086
        ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v 300 $args "$work/$name.avi"
        : >"$work/ffmpeg.txt"
        : >"$work/ours.txt"
        for _ in $(seq "$runs"); do
            timed_run "$work/ffmpeg.txt" ffmpeg -v error -threads 1 -i "$work/$name.avi" -f null -
            "$build/bin/viewer_bench" "$work/$name.avi" sequential 2>/dev/null | awk '/^frames/ {print $6}' >>"$work/ours.txt"
        done
        /usr/bin/python3 - "$work/ffmpeg.txt" "$work/ours.txt" "$name" <<'PY'
import statistics, sys
ffmpeg = statistics.median(float(line.split()[0]) for line in open(sys.argv[1]) if line.strip())
ours = statistics.median(float(line) for line in open(sys.argv[2]) if line.strip())
print("%s: ffmpeg -threads 1 %.0f fps; viewer stepping %.0f fps; ratio %.2f (target >= 0.90)"
      % (sys.argv[3], 300 / ffmpeg, ours, ours / (300 / ffmpeg)))
PY
        echo "$name random jumps: $("$build/bin/viewer_bench" "$work/$name.avi" random 2>/dev/null)"
        echo "$name engine fetch alone: $("$build/bin/viewer_bench" "$work/$name.avi" fetch 2>/dev/null)"
    done
    ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -t 600 -c:v mjpeg -q:v 5 "$work/long.avi"
    echo "10-minute film, resident memory while stepping:"
    "$build/bin/viewer_bench" "$work/long.avi" memory 2>/dev/null
}

# Screen copies on a 1920x1080 Xvfb with MIT-SHM: ScreenGrabber's grab, pointer and conversion to
# 24 and 32 bits (median per frame in-process, screengrab_bench) against "ffmpeg -f x11grab" with
# its pointer drawn and the same output layouts (bgr24, bgr0). ffmpeg's time per frame is the
# difference of its 550- and 50-frame runs divided by 500, which removes its start-up.
screen() {
    echo "== screen"
    start_xvfb
    local display=$xvfb_display
    DISPLAY=$display "$build/bin/screengrab_bench" 300 | tee "$work/screen.txt"
    local ours24 ours32 format short long
    ours24=$(awk '/^grab_24bit_pointer/ {print $2}' "$work/screen.txt")
    ours32=$(awk '/^grab_32bit_pointer/ {print $2}' "$work/screen.txt")
    for format in bgr24 bgr0; do
        short=$(median_ms 5 "ffmpeg -nostdin -v error -f x11grab -framerate 100000 -video_size 1920x1080 -draw_mouse 1 -i $display -frames:v 50 -pix_fmt $format -f null -")
        long=$(median_ms 5 "ffmpeg -nostdin -v error -f x11grab -framerate 100000 -video_size 1920x1080 -draw_mouse 1 -i $display -frames:v 550 -pix_fmt $format -f null -")
        eval "ffmpeg_$format=\$(/usr/bin/python3 -c 'import sys; print(\"%.3f\" % ((float(sys.argv[2]) - float(sys.argv[1])) / 500))' $short $long)"
    done
    stop_xvfb
    # shellcheck disable=SC2154
    echo "24 bits: ScreenGrabber $ours24 ms per frame; ffmpeg x11grab bgr24 $ffmpeg_bgr24 ms; ratio $(ratio "$ours24" "$ffmpeg_bgr24") (target: at most 3 ms per frame)"
    # shellcheck disable=SC2154
    echo "32 bits: ScreenGrabber $ours32 ms per frame; ffmpeg x11grab bgr0 $ffmpeg_bgr0 ms; ratio $(ratio "$ours32" "$ffmpeg_bgr0") (target: at most 3 ms per frame)"
}

# RIFF AVI index reading and writing: container_bench walks the index of two-hour and
# twenty-minute films (360000 and 60000 chunks; with idx1, in 1 MiB OpenDML extents, and without
# any index, scanned) — equal chunk rates at both lengths mean linear work; ffprobe opening the
# same films (its demuxer reads the index too) is the reference. Writing: 200 uncompressed
# 1280x720 frames through the layer against ffmpeg writing the same frames with its rawvideo
# encoder.
container() {
    echo "== container"
    "$build/bin/container_bench" make "$work"
    local name ours probe
    for name in twenty twenty-odml twenty-scan twohours twohours-odml twohours-scan; do
        echo "$name: $("$build/bin/container_bench" open "$work/$name.avi")"
    done
    for name in twohours twohours-odml; do
        ours=$(median_ms 5 "$build/bin/container_bench open $work/$name.avi")
        probe=$(median_ms 5 "ffprobe -v quiet -show_entries format=duration $work/$name.avi")
        echo "$name opened and walked: $ours ms; ffprobe opening it: $probe ms; ratio $(ratio "$ours" "$probe")"
    done
    ours=$(median_ms 3 "$build/bin/container_bench write $work/ours.avi 200")
    probe=$(median_ms 3 "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s 1280x720 -r 25 -i /dev/zero -frames:v 200 -c:v rawvideo -pix_fmt bgr24 $work/ffmpeg.avi")
    echo "writing 200 frames of 1280x720 (553 MB): ours $ours ms; ffmpeg $probe ms; ratio $(ratio "$ours" "$probe")"
    rm -f "$work"/*.avi
}

# The main program as a user meets it, under a private 1920x1080 Xvfb: the main window once the
# splash has had its mandated second (target <= 300 ms), and the capture hot key to Image1.bmp
# written at 24 bits (target <= 100 ms), against ImageMagick's import writing the same screen.
mainprogram() {
    echo "== mainprogram"
    "$here/quadrix_timing.py" "$build" 7 | tee "$work/quadrix.txt"
    local hotkey import
    hotkey=$(awk '/^hotkey/ {print $2}' "$work/quadrix.txt")
    import=$(awk '/^import/ {print $2}' "$work/quadrix.txt")
    echo "hot key to Image1.bmp: $hotkey ms; import -window root to BMP: $import ms; ratio $(ratio "$hotkey" "$import")"
}

# The average PSNR (all planes) of a film's frames against another's, as ffmpeg decodes both.
film_psnr() {
    ffmpeg -nostdin -v info -i "$1" -i "$2" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
        sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p' | tail -1
}

# Recompression: CompressFile (qdx compress, the whole engine path: decoding, the compressor, the
# film written under a temporary name and renamed) of the 300-frame 1280x720 films of the films
# group, against ffmpeg writing the same codec at the same quality with the same thread count for
# decoding and encoding, whole processes, runs interleaved so that other load hits both alike:
#   Motion JPEG -> Motion JPEG: quantiser 3 both (our --quality 94), 4:2:0 both (the source's);
#     and at a much lower quality, quantiser 16 both (our --quality 50); ours requantises the
#     stored coefficients, ffmpeg decodes and encodes: the PSNR of both outputs against the
#     source (as ffmpeg decodes it) is printed with the sizes;
#   MPEG-4 ASP -> MPEG-4 ASP: quantiser 3, key frame every 50, no B-frames (ours never uses them);
#   H.264 -> H.264: libx264 preset veryfast, rate factor 22.95 (our --quality 55), key frame every
#     50 (also the shortest distance, as ours), no B-frames;
#   Motion JPEG -> HuffYUV: lossless; ffmpeg told to write rgb24, the layout ours stores (its own
#     choice would be yuv422p, a third smaller: printed for information).
# The output sizes show that both wrote the same quality. COMPRESS_RUNS overrides the run count.
compress() {
    echo "== compress"
    local runs=${COMPRESS_RUNS:-5}
    local film_args name args
    for film_args in "mjpeg:-c:v mjpeg -q:v 3" "mpeg4:-c:v mpeg4 -q:v 4 -bf 2 -g 50" "h264:-c:v libx264 -g 50"; do
        name=${film_args%%:*}
        args=${film_args#*:}
        # shellcheck disable=SC2086
        [ -f "$work/$name.avi" ] || ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 \
            -frames:v 300 $args "$work/$name.avi"
    done
    local pair source fourcc ours_args theirs_args goal threads
    for pair in "mjpeg|MJPG|--quality 94|-c:v mjpeg -q:v 3|1.2" \
        "mjpeg|MJPG|--quality 50|-c:v mjpeg -q:v 16|1.2" \
        "mpeg4|XVID|--quality 94|-c:v mpeg4 -q:v 3 -g 50 -bf 0|1.0" \
        "h264|H264|--quality 55|-c:v libx264 -preset veryfast -crf 22.95 -g 50 -keyint_min 50 -bf 0|1.0" \
        "mjpeg|HFYU||-c:v huffyuv -pix_fmt rgb24|1.0" \
        "mjpeg|HFYU||-c:v huffyuv|info"; do
        IFS='|' read -r source fourcc ours_args theirs_args goal <<<"$pair"
        for threads in 1 2; do
            : >"$work/ffmpeg.txt"
            : >"$work/ours.txt"
            for _ in $(seq "$runs"); do
                # shellcheck disable=SC2086
                timed_run "$work/ours.txt" "$build/bin/qdx" compress "$work/$source.avi" \
                    "$work/ours.avi" --codec "$fourcc" $ours_args --threads "$threads"
                # shellcheck disable=SC2086
                timed_run "$work/ffmpeg.txt" ffmpeg -nostdin -v error -y -threads "$threads" \
                    -i "$work/$source.avi" -threads "$threads" $theirs_args "$work/theirs.avi"
            done
            /usr/bin/python3 - "$work/ffmpeg.txt" "$work/ours.txt" "$source -> $fourcc" "$threads" \
                "$(stat -c %s "$work/ours.avi")" "$(stat -c %s "$work/theirs.avi")" "$goal" "$theirs_args" <<'PY'
import statistics, sys
def load(path):
    rows = [list(map(float, line.split())) for line in open(path) if line.strip()]
    return statistics.median(r[0] for r in rows), statistics.median(r[1] + r[2] for r in rows)
fw, fc = load(sys.argv[1])
ow, oc = load(sys.argv[2])
goal = sys.argv[7]
target = "(information: ffmpeg %s)" % sys.argv[8] if goal == "info" else "(target >= %s)" % goal
print("%s, %s thread(s): CompressFile %.0f fps (%.2f s, cpu %.2f s, %s bytes); ffmpeg %.0f fps "
      "(%.2f s, cpu %.2f s, %s bytes); frame-rate ratio %.2f %s"
      % (sys.argv[3], sys.argv[4], 300 / ow, ow, oc, sys.argv[5], 300 / fw, fw, fc, sys.argv[6],
         fw / ow, target))
PY
            if [ "$fourcc" = MJPG ] && [ "$threads" = 2 ]; then
                local ours_psnr theirs_psnr
                ours_psnr=$(film_psnr "$work/ours.avi" "$work/$source.avi")
                theirs_psnr=$(film_psnr "$work/theirs.avi" "$work/$source.avi")
                echo "$source -> $fourcc $ours_args: PSNR against the source: ours $ours_psnr dB, ffmpeg $theirs_psnr dB"
            fi
        done
    done
    rm -f "$work/ours.avi" "$work/theirs.avi"
}

# Screen recording to disk, uncompressed 24 bits, on a 1920x1080 Xvfb: qdx record at 60 frames per
# second against "ffmpeg -f x11grab -framerate 60 ... -c:v rawvideo -pix_fmt bgr24" into an AVI on
# the same disk, 10 seconds each: the pictures each kept per second. Then 60 seconds at 10 frames
# per second: the dropped frames and the recorder's resident memory every 10 seconds.
recording() {
    echo "== recording"
    start_xvfb
    local display=$xvfb_display
    local film="$work/recorded.avi" out frames dropped
    out=$(DISPLAY=$display QUADRIX_HOME=$work "$build/bin/qdx" record "$film" --seconds 10 --rate 60)
    frames=$(echo "$out" | awk '/^frames:/ {print $2}')
    dropped=$(echo "$out" | awk '/^dropped:/ {print $2}')
    local ours_fps
    ours_fps=$(/usr/bin/python3 -c "print('%.1f' % (($frames - $dropped) / 10))")
    rm -f "$film"
    ffmpeg -nostdin -v error -y -f x11grab -framerate 60 -video_size 1920x1080 -draw_mouse 1 \
        -i "$display" -t 10 -c:v rawvideo -pix_fmt bgr24 "$work/ffmpeg.avi"
    local theirs_frames theirs_fps
    theirs_frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries \
        stream=nb_read_packets -of csv=p=0 "$work/ffmpeg.avi")
    theirs_fps=$(/usr/bin/python3 -c "print('%.1f' % ($theirs_frames / 10))")
    rm -f "$work/ffmpeg.avi"
    echo "60 fps for 10 s: qdx record kept $ours_fps pictures/s ($frames positions, $dropped dropped); ffmpeg x11grab wrote $theirs_fps frames/s; ratio $(ratio "$ours_fps" "$theirs_fps") (target >= 1.0)"

    DISPLAY=$display QUADRIX_HOME=$work "$build/bin/qdx" record "$film" --seconds 60 --rate 10 \
        >"$work/long.txt" &
    local recorder=$! rss=""
    for _ in 1 2 3 4 5 6; do
        sleep 10
        rss="$rss $(awk '/^VmRSS/ {print $2}' /proc/$recorder/status 2>/dev/null || echo -)"
    done
    wait "$recorder"
    echo "10 fps for 60 s: $(tr '\n' ' ' <"$work/long.txt")(target: 0 dropped); resident memory every 10 s (KiB):$rss (target: flat)"
    rm -f "$film"
    stop_xvfb
}

# Compressed while it records, 1920x1080 at 30 fps for LIVE_SECONDS (60 unless set): qdx record
# --live --codec H264 --quality 55 (x264's rate factor 23) against "ffmpeg -f x11grab -framerate
# 30 ... -c:v libx264 -preset veryfast -crf 23", one after the other on the same screen: a still
# desktop, then a moving one (ffplay showing a 640x360 test pattern). CPU time (user + system),
# film size, dropped frames and the recorder's resident memory every 10 seconds.
liverecording() {
    echo "== liverecording"
    local seconds=${LIVE_SECONDS:-60}
    start_xvfb
    local display=$xvfb_display player=""
    for desktop in still moving; do
        if [ "$desktop" = moving ]; then
            DISPLAY=$display ffplay -v error -an -noborder -left 0 -top 0 \
                -f lavfi -i testsrc2=size=640x360:rate=30 >/dev/null 2>&1 &
            player=$!
            sleep 2
        fi
        local film="$work/live.avi" theirs="$work/x11grab.avi"
        /usr/bin/time -f "%U %S %M" -o "$work/ours.time" env DISPLAY=$display QUADRIX_HOME=$work \
            "$build/bin/qdx" record "$film" --seconds "$seconds" --rate 30 --live --codec H264 \
            --quality 55 >"$work/ours.txt" &
        local recorder=$! rss=""
        for _ in $(seq $((seconds / 10))); do
            sleep 10
            rss="$rss $(awk '/^VmRSS/ {print $2}' /proc/$(pgrep -P $recorder qdx || echo 0)/status 2>/dev/null || echo -)"
        done
        wait "$recorder"
        /usr/bin/time -f "%U %S %M" -o "$work/theirs.time" ffmpeg -nostdin -v error -y \
            -f x11grab -framerate 30 -video_size 1920x1080 -draw_mouse 1 -i "$display" \
            -t "$seconds" -c:v libx264 -preset veryfast -crf 23 "$theirs"
        local ours_cpu theirs_cpu ours_size theirs_size frames dropped theirs_frames
        ours_cpu=$(awk '{print $1 + $2}' "$work/ours.time")
        theirs_cpu=$(awk '{print $1 + $2}' "$work/theirs.time")
        ours_size=$(stat -c %s "$film")
        theirs_size=$(stat -c %s "$theirs")
        frames=$(awk '/^frames:/ {print $2}' "$work/ours.txt")
        dropped=$(awk '/^dropped:/ {print $2}' "$work/ours.txt")
        theirs_frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries \
            stream=nb_read_packets -of csv=p=0 "$theirs")
        echo "$desktop desktop, $seconds s: qdx --live $frames positions, $dropped dropped (target: 0 still, <= 1 % moving); ffmpeg $theirs_frames frames"
        echo "$desktop desktop: CPU qdx $ours_cpu s, ffmpeg $theirs_cpu s; ratio $(ratio "$ours_cpu" "$theirs_cpu") (target <= 1.0)"
        echo "$desktop desktop: size qdx $ours_size B, ffmpeg $theirs_size B; ratio $(ratio "$ours_size" "$theirs_size") (target within 25 %)"
        echo "$desktop desktop: qdx resident memory every 10 s (KiB):$rss; peak $(awk '{print $3}' "$work/ours.time") KiB, ffmpeg peak $(awk '{print $3}' "$work/theirs.time") KiB (target: flat)"
        rm -f "$film" "$theirs"
    done
    [ -z "$player" ] || kill "$player"
    stop_xvfb
}

# Image browser: thumbnails of 200 JPEG photographs (1920x1080, then 6000x4000) for the "Pequeno"
# cell of a maximised browser (85x47), against ImageMagick's mogrify with the JPEG size hint over
# the same files; then fills of 1,000 and 10,000 small pictures (time and resident memory).
# BROWSER_COUNTS overrides the fill counts (e.g. "500 5000" when time is short).
browser() {
    echo "== browser"
    local cell_w=85 cell_h=47 size
    for size in 1920x1080 6000x4000; do
        local folder="$work/photos-$size"
        mkdir -p "$folder"
        # Ten distinct photographs, each under twenty names.
        for i in 0 1 2 3 4 5 6 7 8 9; do
            convert -seed "$i" -size "$size" plasma:fractal -quality 90 "$folder/p$i-00.jpg"
            for j in $(seq -w 1 19); do ln "$folder/p$i-00.jpg" "$folder/p$i-$j.jpg"; done
        done
        local ours_line ours_pps mog_ms mog_pps
        ours_line=$("$build/bin/browser_bench" thumbs "$folder" "$cell_w" "$cell_h")
        "$build/bin/browser_bench" thumbs "$folder" "$cell_w" "$cell_h" >/dev/null
        ours_line=$("$build/bin/browser_bench" thumbs "$folder" "$cell_w" "$cell_h")
        ours_pps=$(echo "$ours_line" | sed -n 's/.*: \([0-9.]*\) pictures\/s.*/\1/p')
        mkdir -p "$work/mogrify"
        mog_ms=$(median_ms 3 "mogrify -path $work/mogrify -define jpeg:size=${cell_w}x${cell_h} -thumbnail ${cell_w}x${cell_h}! $folder/*.jpg")
        mog_pps=$(/usr/bin/python3 -c "print('%.1f' % (200 / ($mog_ms / 1000)))")
        echo "$size: ours $ours_line"
        echo "$size: mogrify $mog_ms ms for 200 = $mog_pps pictures/s; ratio $(ratio "$ours_pps" "$mog_pps") (target >= 5)"
        rm -rf "$folder" "$work/mogrify"
    done
    local counts=${BROWSER_COUNTS:-"1000 10000"} n
    convert -size 64x48 gradient:red-blue -quality 90 "$work/small.jpg"
    for n in $counts; do
        local folder="$work/small-$n"
        mkdir -p "$folder"
        /usr/bin/python3 -c 'import os,sys; [os.link(sys.argv[1], "%s/s%05d.jpg" % (sys.argv[2], i)) for i in range(int(sys.argv[3]))]' "$work/small.jpg" "$folder" "$n"
        echo "$n small pictures: $("$build/bin/browser_bench" fill "$folder")"
        rm -rf "$folder"
    done
}

# The recorder program: QDXCapture started with "play" against ffmpeg x11grab, both writing
# uncompressed 24-bit AVI from a 1920x1080 Xvfb, at 10 and 30 fps (bench/recorder_bench.py).
recorder() {
    echo "== recorder"
    /usr/bin/python3 "$here/recorder_bench.py" "$build" "${RECORDER_SECONDS:-60}" 10 30
}

# Direct stream copy: a 10-minute 1280x720 H.264 film with B-frames and a key frame every 50
# frames; frames 2013 to 9487 (a range that starts and ends between key frames) copied with
# "qdx copy --codec copy", cut at the exact frames, against our own re-encoding of the same range
# (--codec H264) and against "ffmpeg -ss -to -c copy", which snaps the start to a key frame. All
# as whole processes; STREAMCOPY_FILM names an existing film to use instead of making one.
streamcopy() {
    echo "== streamcopy"
    local film=${STREAMCOPY_FILM:-$work/long.avi}
    if [ ! -s "$film" ]; then
        ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -t 600 -c:v libx264 \
            -preset ultrafast -g 50 -bf 2 "$film"
    fi
    local first=2013 last=9487 home="$work/home"
    mkdir -p "$home"
    local start end
    start=$(/usr/bin/python3 -c "print('%.2f' % ($first / 25))")
    end=$(/usr/bin/python3 -c "print('%.2f' % (($last + 1) / 25))")
    # Each run writes a new file: the removal of the previous one is not timed.
    prepared_ms() {
        local runs=$1 target=$2
        shift 2
        hyperfine --style none --warmup 1 --runs "$runs" --prepare "rm -f $target" \
            --export-json "$work/h.json" "$@" >/dev/null
        /usr/bin/python3 -c 'import json,sys; print("%.3f" % (json.load(open(sys.argv[1]))["results"][0]["median"] * 1000))' "$work/h.json"
    }
    local copy ffcopy reencode
    copy=$(prepared_ms 7 "$work/copy.avi" "env QUADRIX_HOME=$home $build/bin/qdx copy $film $first $last $work/copy.avi --codec copy")
    ffcopy=$(prepared_ms 7 "$work/ffcopy.avi" "ffmpeg -v error -y -ss $start -to $end -i $film -c copy $work/ffcopy.avi")
    reencode=$(median_ms 1 "env QUADRIX_HOME=$home $build/bin/qdx copy $film $first $last $work/reencode.avi --codec H264")
    local frames complaints
    frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$work/copy.avi")
    complaints=$(ffmpeg -v error -xerror -i "$work/copy.avi" -f null - 2>&1 | wc -l)
    echo "frames $first to $last ($((last - first + 1)) frames): copy holds $frames frames, ffmpeg's decode reports $complaints lines"
    echo "qdx copy --codec copy: $copy ms; ffmpeg -c copy (from the key frame before): $ffcopy ms; ratio $(ratio "$copy" "$ffcopy") (target <= 1.2)"
    echo "qdx copy --codec H264 (re-encoding): $reencode ms; speed-up of the copy $(ratio "$reencode" "$copy")x (target >= 50)"
    rm -f "$work/copy.avi" "$work/ffcopy.avi" "$work/reencode.avi"
    # A 1,024-frame range (frames 513 to 1536) of a 640x360 film of 2,000 frames, same coding:
    # the copy against our own re-encoding and against ffmpeg's copy, in the same run.
    local short=$work/short.avi
    ffmpeg -v error -y -f lavfi -i testsrc2=size=640x360:rate=25 -frames:v 2000 -c:v libx264 \
        -preset ultrafast -g 50 -bf 2 "$short"
    first=513
    last=1536
    start=$(/usr/bin/python3 -c "print('%.2f' % ($first / 25))")
    end=$(/usr/bin/python3 -c "print('%.2f' % (($last + 1) / 25))")
    copy=$(prepared_ms 7 "$work/copy.avi" "env QUADRIX_HOME=$home $build/bin/qdx copy $short $first $last $work/copy.avi --codec copy")
    ffcopy=$(prepared_ms 7 "$work/ffcopy.avi" "ffmpeg -v error -y -ss $start -to $end -i $short -c copy $work/ffcopy.avi")
    reencode=$(prepared_ms 3 "$work/reencode.avi" "env QUADRIX_HOME=$home $build/bin/qdx copy $short $first $last $work/reencode.avi --codec H264")
    frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/copy.avi")
    complaints=$(ffmpeg -v error -xerror -i "$work/copy.avi" -f null - 2>&1 | wc -l)
    echo "640x360, frames $first to $last (1024 frames): copy decodes to $frames frames, ffmpeg's decode reports $complaints lines"
    echo "qdx copy --codec copy: $copy ms; ffmpeg -c copy: $ffcopy ms; ratio $(ratio "$copy" "$ffcopy")"
    echo "qdx copy --codec H264 (re-encoding): $reencode ms; speed-up of the copy $(ratio "$reencode" "$copy")x (target >= 20)"
    rm -f "$work/copy.avi" "$work/ffcopy.avi" "$work/reencode.avi"
}

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(pictures films viewer compress screen recording liverecording recorder container mainprogram browser streamcopy)
echo "machine: $(uname -m), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); $(date -u +%Y-%m-%d)"
for group in "${groups[@]}"; do
    "$group"
done
