#!/usr/bin/env bash
# Kernel services against the usual command-line tools, on one file of mixed data in the same run:
#   MD5            vexelpack md5        vs md5sum
#   Zip            vexelpack pack --zip vs gzip -6,  vexelpack unpack vs gunzip
#   7z             vexelpack pack --7z  vs xz --format=lzma -9 and xz -9,
#                  vexelpack unpack     vs xz --format=lzma -d and xz -d
# The 7z method is the raw LZMA coder, which "xz --format=lzma" runs as well: that is its fair peer. The xz
# format (LZMA2) stores chunks that do not shrink without coding them, so "xz -d" skips work the 7z method
# does on noise; it is shown for reference, without a goal.
# Goals (wall time): MD5 at least as fast as md5sum; unpacking within 10% of the matching tool. Processor
# time is shown as well, as it is steadier on a busy machine.
#
#   tests/bench/kernel_bench.sh [SIZE_MIB]     (default 64)
# Uses $VEXEL_BUILD_DIR/vexelpack when VEXEL_BUILD_DIR is set (scripts/bench sets it); otherwise builds an
# optimised vexelpack in build/kernel-bench first. Times are the best of $RUNS runs (default 3; the slow
# 7z and xz packing run once; MD5 runs three times as often), vexelpack and its peer taking turns.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
size_mib=${1:-64}
runs=${RUNS:-3}

if [ -n "${VEXEL_BUILD_DIR:-}" ]; then
    build=$VEXEL_BUILD_DIR
else
    build=$root/build/kernel-bench
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXEL_TESTS=OFF -DVEXEL_SANITIZE=OFF \
        >/dev/null
    cmake --build "$build" -j 2 --target vexelpack >/dev/null
fi
tool=$build/vexelpack
[ -x "$tool" ] || { echo "kernel_bench: $tool is missing (build the vexelpack target)" >&2; exit 1; }
for peer in md5sum gzip gunzip xz python3; do
    command -v "$peer" >/dev/null || { echo "kernel_bench: $peer is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vexel-kernel-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
input=$work/input.bin

# Mixed data, fixed seed: script-like text, structured binary records, noise and zero runs.
python3 - "$input" "$size_mib" <<'EOF'
import random, struct, sys
path, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(20240601)
words = ("frame button texture sound loader skin width height visible alpha local function "
         "return end if then else true false nil self _Launcher addWebWindow startGame").split()
total = mib << 20
with open(path, "wb") as out:
    written = 0
    while written < total:
        kind = rng.random()
        if kind < 0.45:
            lines = []
            for _ in range(rng.randint(20, 200)):
                lines.append("%s.%s = %d -- %s %s\n" % (rng.choice(words), rng.choice(words),
                             rng.randint(0, 99999), rng.choice(words), rng.choice(words)))
            chunk = "".join(lines).encode()
        elif kind < 0.75:
            base = rng.randint(0, 1 << 30)
            chunk = b"".join(struct.pack("<IIHH", base + i * 16, rng.randint(0, 255), i & 0xFFFF,
                                         rng.choice((0, 1, 2, 0xFFFF))) for i in range(rng.randint(100, 2000)))
        elif kind < 0.93:
            chunk = rng.randbytes(rng.randint(1000, 60000))
        else:
            chunk = bytes(rng.randint(1000, 100000))
        chunk = chunk[: total - written]
        out.write(chunk)
        written += len(chunk)
EOF

# Runs two commands in turn $1 times (so both see the same machine load) and sets A and B to the best
# wall time of each, and CA and CB to the best processor time (user + system), in seconds. Each command
# is a string for eval, with its output redirected inside.
measure() { # command -> "wall cpu"
    local TIMEFORMAT='%R %U %S' line
    line=$({ time eval "$1" 2>/dev/null; } 2>&1)
    awk -v l="$line" 'BEGIN { split(l, t, " "); printf "%.3f %.3f", t[1], t[2] + t[3] }'
}
pair() {
    local count=$1 i a b
    A=; B=; CA=; CB=
    for ((i = 0; i < count; i++)); do
        read -r a b <<<"$(measure "$2")"
        A=$(awk -v x="$a" -v y="${A:-$a}" 'BEGIN { print (x < y) ? x : y }')
        CA=$(awk -v x="$b" -v y="${CA:-$b}" 'BEGIN { print (x < y) ? x : y }')
        read -r a b <<<"$(measure "$3")"
        B=$(awk -v x="$a" -v y="${B:-$a}" 'BEGIN { print (x < y) ? x : y }')
        CB=$(awk -v x="$b" -v y="${CB:-$b}" 'BEGIN { print (x < y) ? x : y }')
    done
}

size=$(stat -c %s "$input")
cat "$input" >/dev/null # warm the page cache for both sides
echo "input: $size bytes of mixed data; vexelpack: $tool; best of $runs runs"
printf '%-11s %8s %8s %6s   %8s %8s %6s   %s\n' "" "wall s" "peer" "ratio" "cpu s" "peer" "ratio" "peer"

row() { # name peer-name goal(max wall ratio, or "-"), from A B CA CB
    local verdict=""
    if [ "$3" != - ]; then
        verdict=$(awk -v a="$A" -v b="$B" -v g="$3" 'BEGIN { print (a / b <= g) ? "goal met" : "GOAL MISSED" }')
    fi
    printf '%-11s %8s %8s %6s   %8s %8s %6s   %-8s %s\n' "$1" "$A" "$B" \
        "$(awk -v a="$A" -v b="$B" 'BEGIN { printf "%.2f", a / b }')" "$CA" "$CB" \
        "$(awk -v a="$CA" -v b="$CB" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')" "$2" "$verdict"
}

# MD5: the program's text is the usual digest with its bytes reversed. Short runs: take more of them.
pair $((runs * 3)) '"$tool" md5 "$input" >/dev/null' 'md5sum "$input" >/dev/null'
row "md5" "md5sum" 1.00
ours=$("$tool" md5 "$input")
theirs=$(md5sum "$input" | cut -d' ' -f1 | sed 's/../& /g' | tr ' ' '\n' | tac | tr -d '\n')
[ "$ours" = "$theirs" ] || { echo "kernel_bench: digests differ: $ours vs $theirs" >&2; exit 1; }

# Zip against gzip -6 (zlib's default level is 6).
pair "$runs" '"$tool" pack --zip "$input" "$work/input.zp"' 'gzip -6 -c "$input" >"$work/input.gz"'
row "pack zip" "gzip -6" -
pair "$runs" '"$tool" unpack "$work/input.zp" "$work/out.zp"' 'gunzip -c "$work/input.gz" >"$work/out.gz"'
row "unpack zip" "gunzip" 1.10
cmp -s "$input" "$work/out.zp" || { echo "kernel_bench: Zip round trip differs" >&2; exit 1; }

# 7z against the same coder in the .lzma format, and against the xz format (single-threaded, as the raw
# LZMA coder is). Packing is slow: once each.
pair 1 '"$tool" pack --7z "$input" "$work/input.7z"' 'xz --format=lzma -9 -c "$input" >"$work/input.lzma"'
row "pack 7z" "xz --format=lzma -9 (same coder)" -
read -r B CB <<<"$(measure 'xz -9 -T1 -c "$input" >"$work/input.xz"')"
row "pack 7z" "xz -9 (xz format)" -
pair "$runs" '"$tool" unpack "$work/input.7z" "$work/out.7z"' \
    'xz --format=lzma -d -c "$work/input.lzma" >"$work/out.lzma"'
row "unpack 7z" "xz --format=lzma -d (same coder)" 1.10
cmp -s "$input" "$work/out.lzma" || { echo "kernel_bench: lzma round trip differs" >&2; exit 1; }
pair "$runs" '"$tool" unpack "$work/input.7z" "$work/out.7z"' 'xz -d -T1 -c "$work/input.xz" >"$work/out.xz"'
row "unpack 7z" "xz -d (xz format, reference)" -
cmp -s "$input" "$work/out.7z" || { echo "kernel_bench: 7z round trip differs" >&2; exit 1; }

echo
printf '%-14s %12s %12s\n' "packed size" "vexel" "peer"
printf '%-14s %12s %12s\n' "zip / gzip" "$(stat -c %s "$work/input.zp")" "$(stat -c %s "$work/input.gz")"
printf '%-14s %12s %12s\n' "7z / lzma" "$(stat -c %s "$work/input.7z")" "$(stat -c %s "$work/input.lzma")"
printf '%-14s %12s %12s\n' "7z / xz" "$(stat -c %s "$work/input.7z")" "$(stat -c %s "$work/input.xz")"
