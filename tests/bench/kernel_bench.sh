#!/usr/bin/env bash
# Kernel services against the usual command-line tools, on one file of mixed data in the same run:
#   MD5            vexelpack md5        vs md5sum
#   Zip            vexelpack pack --zip vs gzip -6,  vexelpack unpack vs gunzip
#   7z             vexelpack pack --7z  vs xz -9,    vexelpack unpack vs xz -d
# Goals: MD5 at least as fast as md5sum; unpacking within 10% of the matching tool.
#
#   tests/bench/kernel_bench.sh [SIZE_MIB]     (default 64)
# Uses $VEXEL_BUILD_DIR/vexelpack when VEXEL_BUILD_DIR is set (scripts/bench sets it); otherwise builds an
# optimised vexelpack in build/kernel-bench first. Times are the best of $RUNS runs (default 3; the slow
# 7z and xz packing run once).
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

# Best wall time in seconds of running "$@" $2 times, output to $1 ("-" for none).
best() {
    local out=$1 count=$2; shift 2
    local best_ns= start end ns i
    for ((i = 0; i < count; i++)); do
        start=$(date +%s%N)
        if [ "$out" = - ]; then "$@" >/dev/null; else "$@" >"$out"; fi
        end=$(date +%s%N)
        ns=$((end - start))
        if [ -z "$best_ns" ] || [ "$ns" -lt "$best_ns" ]; then best_ns=$ns; fi
    done
    awk -v ns="$best_ns" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

size=$(stat -c %s "$input")
cat "$input" >/dev/null # warm the page cache for both sides
echo "input: $size bytes of mixed data; vexelpack: $tool; best of $runs runs"
printf '%-14s %10s %10s %8s  %s\n' "operation" "vexel s" "peer s" "ratio" "peer"

row() { # name vexel peer peer-name goal(max ratio or "-")
    local verdict=""
    if [ "$5" != - ]; then
        verdict=$(awk -v a="$2" -v b="$3" -v g="$5" 'BEGIN { print (a / b <= g) ? "goal met" : "GOAL MISSED" }')
    fi
    printf '%-14s %10s %10s %8s  %-12s %s\n' "$1" "$2" "$3" "$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", a / b }')" "$4" "$verdict"
}

# MD5: the program's text is the usual digest with its bytes reversed.
vexel_md5=$(best - "$runs" "$tool" md5 "$input")
peer_md5=$(best - "$runs" md5sum "$input")
ours=$("$tool" md5 "$input")
theirs=$(md5sum "$input" | cut -d' ' -f1 | sed 's/../& /g' | tr ' ' '\n' | tac | tr -d '\n')
[ "$ours" = "$theirs" ] || { echo "kernel_bench: digests differ: $ours vs $theirs" >&2; exit 1; }
row "md5" "$vexel_md5" "$peer_md5" "md5sum" 1.00

# Zip against gzip -6 (zlib's default level is 6).
vexel_zip=$(best - "$runs" "$tool" pack --zip "$input" "$work/input.zp")
peer_zip=$(best "$work/input.gz" "$runs" gzip -6 -c "$input")
vexel_unzip=$(best - "$runs" "$tool" unpack "$work/input.zp" "$work/out.zp")
peer_unzip=$(best "$work/out.gz" "$runs" gunzip -c "$work/input.gz")
cmp -s "$input" "$work/out.zp" || { echo "kernel_bench: Zip round trip differs" >&2; exit 1; }
row "pack zip" "$vexel_zip" "$peer_zip" "gzip -6" -
row "unpack zip" "$vexel_unzip" "$peer_unzip" "gunzip" 1.10

# 7z against xz -9 (single-threaded, as the raw LZMA coder is).
vexel_7z=$(best - 1 "$tool" pack --7z "$input" "$work/input.7z")
peer_7z=$(best "$work/input.xz" 1 xz -9 -T1 -c "$input")
vexel_un7z=$(best - "$runs" "$tool" unpack "$work/input.7z" "$work/out.7z")
peer_un7z=$(best "$work/out.xz" "$runs" xz -d -T1 -c "$work/input.xz")
cmp -s "$input" "$work/out.7z" || { echo "kernel_bench: 7z round trip differs" >&2; exit 1; }
row "pack 7z" "$vexel_7z" "$peer_7z" "xz -9" -
row "unpack 7z" "$vexel_un7z" "$peer_un7z" "xz -d" 1.10

echo
printf '%-14s %12s %12s\n' "packed size" "vexel" "peer"
printf '%-14s %12s %12s\n' "zip / gzip" "$(stat -c %s "$work/input.zp")" "$(stat -c %s "$work/input.gz")"
printf '%-14s %12s %12s\n' "7z / xz" "$(stat -c %s "$work/input.7z")" "$(stat -c %s "$work/input.xz")"
