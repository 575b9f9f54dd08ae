#!/usr/bin/env bash
# kwtool pack / unpack beside lz4 -1, zstd -1 -T0 and gzip -1 (and their -d)
# on the same ~100 MB file of real text and binaries, whole-process wall
# time, in one run: the contenders take turns round after round, so load on
# the machine hits them alike, and every round gives each one a paired
# ratio to lz4's time in that round (> 1: faster than lz4). Each command
# writes once to a file (the tool's own way, through its output name) and
# once to a pipe; the peak resident memory comes from /usr/bin/time. A
# "> file" output is removed before each run (untimed), so every tool writes
# a new file beside its kept input; the "> existing file" rows replace one
# (-f), which kwtool syncs before the rename.
#
#   bench/pack_bench.sh [KWTOOL] [WORKDIR]
#
# KWTOOL defaults to build/tools/kwtool/kwtool, WORKDIR to a fresh folder
# under /tmp (removed at the end). KW_BENCH_MB sets the corpus size (100),
# KW_BENCH_RUNS the rounds (5), KW_BENCH_LEVELS the extra pack levels to
# time (default "9"; empty for none).
set -euo pipefail
cd "$(dirname "$0")/.."

kwtool="$(realpath "${1:-build/tools/kwtool/kwtool}")"
work="${2:-}"
mb="${KW_BENCH_MB:-100}"
runs="${KW_BENCH_RUNS:-5}"
levels="${KW_BENCH_LEVELS-9}"
for tool in lz4 zstd gzip /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "pack_bench: $tool is needed" >&2; exit 2; }
done
[[ -x "$kwtool" ]] || { echo "pack_bench: no kwtool at $kwtool (build first)" >&2; exit 2; }
if [[ -z "$work" ]]; then
  work="$(mktemp -d /tmp/kwtool-bench-XXXXXX)"
  trap 'rm -rf "$work"' EXIT
else
  mkdir -p "$work"  # kept, with its corpus, for the next run
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
"$kwtool" pack -q -f "$corpus" corpus.kwp
for l in $levels; do "$kwtool" pack -q -f -"$l" "$corpus" "corpus$l.kwp"; done
lz4 -1 -q -f "$corpus" corpus.lz4
zstd -1 -q -f -T0 "$corpus" -o corpus.zst
gzip -1 -c "$corpus" > corpus.gz
"$kwtool" unpack -q -f corpus.kwp corpus.out && cmp -s "$corpus" corpus.out || { echo "pack_bench: round trip failed" >&2; exit 1; }
rm -f corpus.out

# Contenders: name, then the command (word-split; "|" marks the pipe form,
# whose output goes through a pipe into cat and on to /dev/null).
names=()
cmds=()
add() { names+=("$1"); cmds+=("$2"); }
add "lz4 -1 > file" "lz4 -1 -q -f $corpus o.lz4"
add "lz4 -1 | pipe" "| lz4 -1 -q -c $corpus"
add "kwtool pack > file" "$kwtool pack -q -f $corpus o.kwp"
add "kwtool pack -f > existing file" "$kwtool pack -q -f $corpus ox.kwp"
add "kwtool pack -c > file (no rename)" "> $kwtool pack -q -c $corpus"
add "kwtool pack | pipe" "| $kwtool pack -q -c $corpus"
add "kwtool pack -j1 > file" "$kwtool pack -q -f -j1 $corpus o1.kwp"
for l in $levels; do add "kwtool pack -$l > file" "$kwtool pack -q -f -$l $corpus o$l.kwp"; done
add "zstd -1 -T0 > file" "zstd -1 -q -f -T0 $corpus -o o.zst"
add "zstd -1 -T0 | pipe" "| zstd -1 -q -c -T0 $corpus"
add "gzip -1 | pipe" "| gzip -1 -c $corpus"
add "lz4 -d > file" "lz4 -d -q -f corpus.lz4 o.raw"
add "lz4 -d | pipe" "| lz4 -d -q -c corpus.lz4"
add "kwtool unpack > file" "$kwtool unpack -q -f corpus.kwp o.raw"
add "kwtool unpack -f > existing file" "$kwtool unpack -q -f corpus.kwp ox.raw"
add "kwtool unpack -c > file (no rename)" "> $kwtool unpack -q -c corpus.kwp"
add "kwtool unpack | pipe" "| $kwtool unpack -q -c corpus.kwp"
add "kwtool unpack -j1 | pipe" "| $kwtool unpack -q -c -j1 corpus.kwp"
add "zstd -d > file" "zstd -d -q -f corpus.zst -o o.raw"
add "zstd -d | pipe" "| zstd -d -q -c corpus.zst"
add "gzip -d | pipe" "| gzip -d -c corpus.gz"

# One timed run: wall seconds on stdout, the peak RSS (KiB) into rss.$i.
run_one() {
  local i=$1 c=${cmds[$1]} t0 t1
  rm -f o.* o[0-9]*.*  # the "> file" outputs; ox.* stay, to be replaced
  t0=$EPOCHREALTIME
  case $c in
    "| "*) # shellcheck disable=SC2086
      /usr/bin/time -f %M -o "rss.$i" ${c#| } | cat > /dev/null ;;
    "> "*) # shellcheck disable=SC2086
      /usr/bin/time -f %M -o "rss.$i" ${c#> } > o.stdout ;;
    *) # shellcheck disable=SC2086
      /usr/bin/time -f %M -o "rss.$i" $c ;;
  esac
  t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }'
}

n=${#names[@]}
: > times.tsv
for ((i = 0; i < n; ++i)); do run_one "$i" > /dev/null; done  # warm the caches once
for ((r = 0; r < runs; ++r)); do
  for ((i = 0; i < n; ++i)); do
    printf '%d\t%d\t%s\n' "$r" "$i" "$(run_one "$i")" >> times.tsv
    tail -1 "rss.$i" >> "rsslog.$i"
  done
done

# Paired ratios: within a round, lz4's time of the same direction and sink
# over the contender's (pack rows against lz4 -1 > file / | pipe, unpack rows
# against lz4 -d > file / | pipe).
index_of() {
  local k
  for ((k = 0; k < ${#names[@]}; ++k)); do [[ ${names[$k]} == "$1" ]] && { echo "$k"; return; }; done
  echo "pack_bench: no contender $1" >&2
  exit 2
}
base_of() {
  local sink="> file"
  [[ ${names[$1]} == *"| pipe"* ]] && sink="| pipe"
  case ${names[$1]} in
    *unpack*|*" -d "*) index_of "lz4 -d $sink" ;;
    *) index_of "lz4 -1 $sink" ;;
  esac
}
echo
echo "| command | median s | MB/s | ratio to lz4 (median, range) | peak RSS KiB |"
echo "|---|---|---|---|---|"
for ((i = 0; i < n; ++i)); do
  b=$(base_of "$i")
  awk -F'\t' -v i="$i" -v b="$b" -v size="$size" -v name="${names[$i]}" -v rss="$(sort -n "rsslog.$i" | tail -1)" '
    function sort(a, k,   x, y, v) {  # insertion sort of a[1..k]
      for (x = 2; x <= k; x++) { v = a[x]; for (y = x - 1; y >= 1 && a[y] > v; y--) a[y + 1] = a[y]; a[y + 1] = v }
    }
    { t[$1 "," $2] = $3; if ($2 == i) rounds[$1] = 1 }
    END {
      k = 0
      for (r in rounds) { k++; own[k] = t[r "," i]; ratio[k] = t[r "," b] / t[r "," i] }
      sort(own, k); sort(ratio, k)
      med = k % 2 ? own[(k + 1) / 2] : (own[k / 2] + own[k / 2 + 1]) / 2
      rmed = k % 2 ? ratio[(k + 1) / 2] : (ratio[k / 2] + ratio[k / 2 + 1]) / 2
      printf "| %s | %.3f | %.0f | %.2f (%.2f-%.2f) | %s |\n", name, med, size / med / 1e6, rmed, ratio[1], ratio[k], rss
    }' times.tsv
done

echo
echo "| output | bytes | of the input |"
echo "|---|---|---|"
for f in corpus.kwp $(for l in $levels; do echo "corpus$l.kwp"; done) corpus.lz4 corpus.zst corpus.gz; do
  b=$(stat -c %s "$f")
  echo "| $f | $b | $(awk -v a="$b" -v s="$size" 'BEGIN { printf "%.1f%%", 100 * a / s }') |"
done
echo
echo "rounds: $runs; load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
