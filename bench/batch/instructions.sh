#!/bin/sh
# Instructions per pixel of each stage of velora-batch on every photo of a folder, counted by
# callgrind: unlike times, the counts do not depend on what else the machine is doing. Beside
# them the same counts for `djpeg FILE | cjpeg -quality 97 -sample 1x1`, and the whole of a run
# on a 1x1 JPEG against the pipe on the same file.
#
#   bench/batch/instructions.sh VELORA_BATCH [PHOTO_FOLDER] [TINY_JPEG]
#
# VELORA_SIMD=sse2 in the environment counts the SSE2 path.
set -eu
tool=$1
folder=${2:-$(dirname "$0")/../../../shared/photos/large}
tiny=${3:-$(dirname "$0")/../../../shared/photos/special/tiny_1x1_minimal_exif.jpg}
command -v valgrind >/dev/null || { echo "skipped: valgrind is not installed"; exit 0; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Inclusive instructions of the functions named in $2 (separated by |) in callgrind output $1,
# each counted once: the largest of its lines, since inlined code shows under other files too.
inclusive() {
    callgrind_annotate --inclusive=yes --auto=no --threshold=100 "$1" 2>/dev/null |
        awk -v names="$2" 'BEGIN { n = split(names, name, "|") }
            { count = $1; gsub(",", "", count)
              for (i = 1; i <= n; i++) if (index($0, name[i]) && count + 0 > best[i]) best[i] = count + 0 }
            END { for (i = 1; i <= n; i++) sum += best[i]; print sum + 0 }'
}
total() {
    callgrind_annotate "$1" 2>/dev/null | awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1 }'
}
count() {  # callgrind output file, command...
    out=$1
    shift
    valgrind --tool=callgrind --callgrind-out-file="$out" --trace-children=no "$@" \
        >/dev/null 2>&1
}
pipe_count() {  # photo: instructions of djpeg plus cjpeg
    djpeg "$1" >"$scratch/pixels.ppm"
    count "$scratch/djpeg.out" djpeg -outfile "$scratch/pixels.ppm" "$1"
    count "$scratch/cjpeg.out" cjpeg -quality 97 -sample 1x1 -outfile "$scratch/pipe.jpg" \
        "$scratch/pixels.ppm"
    echo $(($(total "$scratch/djpeg.out") + $(total "$scratch/cjpeg.out")))
}

echo "load $(cut -d' ' -f1-3 /proc/loadavg), path ${VELORA_SIMD:-widest}"
printf '| photo | pixels | decode | convert | sharpen | encode | velora-batch | pipe |\n'
printf '|---|---|---|---|---|---|---|---|\n'
for photo in "$folder"/*.jpg; do
    [ -f "$photo" ] || continue
    size=$(file -bL "$photo" | grep -o '[0-9]*x[0-9]*' | tail -n 1)
    pixels=$((${size%x*} * ${size#*x}))
    count "$scratch/batch.out" "$tool" --quiet --overwrite -o "$scratch" "$photo"
    f=$scratch/batch.out
    decode=$(inclusive "$f" 'jpeg_read_scanlines|jpeg_start_decompress|jpeg_finish_decompress')
    convert=$(inclusive "$f" 'PixelConverter::ConvertRow')
    sharpen=$(inclusive "$f" 'UnsharpMaskRows::Emit|UnsharpMaskRows::PushBorrowed|UnsharpMaskRows::Push(')
    encode=$(inclusive "$f" 'jpeg_write_scanlines|jpeg_finish_compress')
    pipe=$(pipe_count "$photo")
    awk -v n="$(basename "$photo")" -v p="$pixels" -v d="$decode" -v c="$convert" \
        -v s="$sharpen" -v e="$encode" -v t="$(total "$f")" -v q="$pipe" 'BEGIN {
        printf "| %s | %d | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f |\n", n, p, d / p, c / p,
            s / p, e / p, t / p, q / p }'
done
if [ -f "$tiny" ]; then
    count "$scratch/tiny.out" "$tool" --quiet --overwrite -o "$scratch" "$tiny"
    count "$scratch/version.out" "$tool" --version
    echo "1x1 JPEG: velora-batch $(total "$scratch/tiny.out") instructions" \
        "(--version alone $(total "$scratch/version.out")), pipe $(pipe_count "$tiny")"
fi
