#!/usr/bin/env bash
# Downloading against the usual tools, one loopback server for both sides, in the same run:
#   one WebDownload of a 256 MiB file into memory     vs  curl -o /dev/null of the same URL
#   (and the same through WebDownloadStream, keeping nothing, as curl does)
#   vexelpack sync of a 256 MiB package of 2,000      vs  aria2c -x4 -s4 fetching the package file
#   resources over 4 connections, every digest checked
# Goals: the transfer into memory within 1.3x of curl (it pays for the first touch of 256 MiB of fresh
# memory, which curl writing nowhere does not), streamed within 10% of curl; the sync within 1.3x of
# aria2's time.
#
#   tests/bench/download_bench.sh [SIZE_MIB] [RESOURCES]     (defaults 256 and 2000)
# Uses $VEXEL_BUILD_DIR (scripts/bench sets it) for vexelpack and tests/bench_download_server; otherwise
# builds both optimised in build/download-bench first. Times are the best of $RUNS runs (default 3).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
size_mib=${1:-256}
count=${2:-2000}
runs=${RUNS:-3}

if [ -n "${VEXEL_BUILD_DIR:-}" ]; then
    build=$VEXEL_BUILD_DIR
else
    build=$root/build/download-bench
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXEL_SANITIZE=OFF -DVEXEL_TESTS=ON \
        >/dev/null
    cmake --build "$build" -j 2 --target vexelpack bench_download_server >/dev/null
fi
tool=$build/vexelpack
helper=$build/tests/bench_download_server
for exe in "$tool" "$helper"; do
    [ -x "$exe" ] || { echo "download_bench: $exe is missing (build vexelpack and bench_download_server)" >&2; exit 1; }
done
for peer in curl aria2c python3; do
    command -v "$peer" >/dev/null || { echo "download_bench: $peer is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vexel-download-bench.XXXXXX")
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The package: COUNT resources of varied sizes back to back, and its text manifest (UTF-16LE, one folder
# line per folder, "#offset" entries) with the program's digest text (the usual one, bytes reversed).
python3 - "$work/package.bin" "$work/manifest.txt" "$size_mib" "$count" <<'EOF'
import hashlib, random, sys
package, manifest, mib, count = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(20240611)
total = mib << 20
weights = [rng.random() ** 3 + 0.01 for _ in range(count)]
scale = total / sum(weights)
sizes = [max(1, int(w * scale)) for w in weights]
sizes[-1] += total - sum(sizes)
lines = []
offset = 0
folder = None
with open(package, "wb") as out:
    for i, size in enumerate(sizes):
        data = rng.randbytes(size)
        out.write(data)
        name_folder = "data\\set%02d" % (i % 40)
        if name_folder != folder:
            folder = name_folder
            lines.append("%s|[]\r\n" % folder)
        digest = hashlib.md5(data).digest()[::-1].hex()
        lines.append("res%05d.bin|%s|#%d|%d\r\n" % (i, digest, offset, size))
        offset += size
with open(manifest, "wb") as out:
    out.write("".join(lines).encode("utf-16-le"))
EOF
size=$(stat -c %s "$work/package.bin")

# The server runs until its standard input closes.
mkfifo "$work/server.in"
"$helper" --serve "$work/package.bin" /pack.bin <"$work/server.in" >"$work/server.port" &
server_pid=$!
exec 3>"$work/server.in"
for _ in $(seq 200); do [ -s "$work/server.port" ] && break; sleep 0.05; done
port=$(head -n1 "$work/server.port")
[ -n "$port" ] || { echo "download_bench: the server did not start" >&2; exit 1; }
url=http://127.0.0.1:$port/pack.bin

# Best wall time in seconds of running "$@" $1 times; $before runs before each (untimed).
before=:
best() {
    local count=$1; shift
    local best_ns= start end ns i
    for ((i = 0; i < count; i++)); do
        eval "$before"
        start=$(date +%s%N)
        "$@" >/dev/null
        end=$(date +%s%N)
        ns=$((end - start))
        if [ -z "$best_ns" ] || [ "$ns" -lt "$best_ns" ]; then best_ns=$ns; fi
    done
    awk -v ns="$best_ns" 'BEGIN { printf "%.3f", ns / 1e9 }'
}

row() { # name vexel peer peer-name goal
    local verdict
    verdict=$(awk -v a="$2" -v b="$3" -v g="$5" 'BEGIN { print (a / b <= g) ? "goal met" : "GOAL MISSED" }')
    printf '%-18s %10s %10s %8s  %-16s goal %-5s %s\n' "$1" "$2" "$3" \
        "$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", a / b }')" "$4" "$5" "$verdict"
}

echo "package: $size bytes, $count resources; server: $url; best of $runs runs"
printf '%-18s %10s %10s %8s  %s\n' "operation" "vexel s" "peer s" "ratio" "peer"

# One transfer into memory against curl writing nowhere.
got=$("$helper" --fetch "$url")
[ "$got" = "$size" ] || { echo "download_bench: WebDownload gave $got bytes, expected $size" >&2; exit 1; }
vexel_one=$(best "$runs" "$helper" --fetch "$url")
peer_one=$(best "$runs" curl -s -o /dev/null "$url")
row "WebDownload" "$vexel_one" "$peer_one" "curl" 1.30
# The same transfer handed to a callback that keeps nothing: the transport without the first touch of
# 256 MiB of fresh memory that a buffer costs.
vexel_stream=$(best "$runs" "$helper" --stream "$url")
row "WebDownloadStream" "$vexel_stream" "$peer_one" "curl" 1.10

# The package into a hash archive (every resource digest-checked) against aria2 into a file.
before='rm -f "$work/out.fod"'
"$tool" sync --base "$url?0" --manifest "$work/manifest.txt" --archive "$work/out.fod" --connections 4 -q \
    >"$work/sync.out" || { cat "$work/sync.out" >&2; echo "download_bench: sync failed" >&2; exit 1; }
grep -q "^$count of $count resources" "$work/sync.out" || { cat "$work/sync.out" >&2; exit 1; }
vexel_sync=$(best "$runs" "$tool" sync --base "$url?0" --manifest "$work/manifest.txt" --archive "$work/out.fod" \
    --connections 4 -q)
before='rm -f "$work/aria.bin"'
peer_sync=$(best "$runs" aria2c -q -x4 -s4 --file-allocation=none --allow-overwrite=true -d "$work" -o aria.bin "$url")
cmp -s "$work/aria.bin" "$work/package.bin" || { echo "download_bench: aria2 copy differs" >&2; exit 1; }
row "sync 4 conn" "$vexel_sync" "$peer_sync" "aria2c -x4 -s4" 1.30
