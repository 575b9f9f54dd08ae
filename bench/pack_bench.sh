#!/usr/bin/env bash
# kwtool pack / unpack beside lz4 -1 and gzip -1 on the same ~100 MB file of
# real text and binaries, in the same run: whole-process wall time through
# hyperfine, sizes, and the peak resident memory of each command.
#
#   bench/pack_bench.sh [KWTOOL] [WORKDIR]
#
# KWTOOL defaults to build/tools/kwtool/kwtool, WORKDIR to a fresh folder
# under /tmp (removed at the end). KW_BENCH_MB sets the corpus size (100),
# KW_BENCH_RUNS the hyperfine runs (10).
set -euo pipefail
cd "$(dirname "$0")/.."

kwtool="$(realpath "${1:-build/tools/kwtool/kwtool}")"
work="${2:-}"
mb="${KW_BENCH_MB:-100}"
runs="${KW_BENCH_RUNS:-10}"
for tool in hyperfine lz4 gzip; do
  command -v "$tool" >/dev/null || { echo "pack_bench: $tool is needed" >&2; exit 2; }
done
[[ -x "$kwtool" ]] || { echo "pack_bench: no kwtool at $kwtool (build first)" >&2; exit 2; }
if [[ -z "$work" ]]; then
  work="$(mktemp -d /tmp/kwtool-bench-XXXXXX)"
  trap 'rm -rf "$work"' EXIT
fi
cd "$work"

# The corpus: about a third each of documentation texts, executables and
# shared libraries, cut to exactly $mb MB.
corpus=corpus.bin
if [[ ! -s "$corpus" ]]; then
  third=$((mb * 1000000 / 3))
  {
    find /usr/share/doc -type f \( -name '*.txt' -o -name 'copyright' -o -name '*.md' -o -name 'README*' -o -name 'changelog*' \) \
      -size -2M 2>/dev/null | sort | xargs cat 2>/dev/null | head -c "$third" || true
    find /usr/bin -type f -size +20k 2>/dev/null | sort | xargs cat 2>/dev/null | head -c "$third" || true
    find /usr/lib /usr/lib64 -maxdepth 2 -name '*.so*' -type f 2>/dev/null | sort | xargs cat 2>/dev/null || true
  } | head -c "$((mb * 1000000))" > "$corpus"
fi
size=$(stat -c %s "$corpus")
echo "corpus: $size bytes in $work"

# Outputs once, for the sizes and as the inputs of the expanders.
"$kwtool" pack "$corpus" corpus.kwp
lz4 -1 -q -f "$corpus" corpus.lz4
gzip -1 -c "$corpus" > corpus.gz
"$kwtool" unpack corpus.kwp corpus.out && cmp -s "$corpus" corpus.out || { echo "pack_bench: round trip failed" >&2; exit 1; }

hyperfine -N -w 1 -r "$runs" --export-markdown compress.md \
  -n "kwtool pack" "$kwtool pack $corpus out.kwp" \
  -n "kwtool pack -j1" "$kwtool pack -j1 $corpus out1.kwp" \
  -n "lz4 -1" "lz4 -1 -q -f $corpus out.lz4" \
  -n "gzip -1" "gzip -1 -k -f -S .gzo $corpus"
hyperfine -N -w 1 -r "$runs" --export-markdown expand.md \
  -n "kwtool unpack" "$kwtool unpack corpus.kwp out.raw" \
  -n "kwtool unpack -j1" "$kwtool unpack -j1 corpus.kwp out1.raw" \
  -n "lz4 -d" "lz4 -d -q -f corpus.lz4 out.lz4raw" \
  -n "gzip -d" "gzip -d -k -f -c corpus.gz"

rss() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
echo
echo "| output | bytes | ratio | peak RSS (KiB) |"
echo "|---|---|---|---|"
for f in corpus.kwp corpus.lz4 corpus.gz; do
  b=$(stat -c %s "$f")
  case $f in
    *.kwp) m=$(rss "$kwtool" pack "$corpus" out.kwp); mu=$(rss "$kwtool" unpack corpus.kwp out.raw) ;;
    *.lz4) m=$(rss lz4 -1 -q -f "$corpus" out.lz4); mu=$(rss lz4 -d -q -f corpus.lz4 out.lz4raw) ;;
    *.gz) m=$(rss gzip -1 -k -f -S .gzo "$corpus"); mu=$(rss gzip -d -k -f -c corpus.gz) ;;
  esac
  echo "| $f | $b | $(awk -v a="$b" -v b="$size" 'BEGIN{printf "%.3f", a/b}') | $m compress, $mu expand |"
done
echo
cat compress.md
echo
cat expand.md
echo
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
