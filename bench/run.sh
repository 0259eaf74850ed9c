#!/usr/bin/env bash
# Compares vorn with the tools people would otherwise use, side by side in one
# run, and prints a markdown table of medians and their ratios.
#
#   bench/run.sh [VORN_BINARY] [SCRATCH_FOLDER]
#
# VORN_BINARY defaults to build/vorn (a Release build); SCRATCH_FOLDER to a
# new temporary folder, removed at the end unless it was given. The data is
# generated there and is the same on every run and machine. RUNS sets the
# number of timed runs of each slow command (default 10).
#
# Workloads:
#   W1  the first 10 lines of a 2,000,000-line file (start-up dominates)
#   W2  skipping to its last 10 lines (reading the whole file)
#   W3  every line through a pipe, flushed line by line
#   M   peak resident memory, for W3 and for a file that is one 64 MiB line
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
vorn=$(realpath "${1:-$here/build/vorn}")
runs=${RUNS:-10}
[ -x "$vorn" ] || { echo "no vorn binary at $vorn (build it first)" >&2; exit 2; }

if [ -n "${2:-}" ]; then
  scratch=$(realpath "$2")
  mkdir -p "$scratch"
else
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/vorn-bench-XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
fi
cd "$scratch"

install_if_missing() {  # program, Debian package
  command -v "$1" >/dev/null && return 0
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "installing $2" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$2" \
      >/dev/null 2>&1 || true
  fi
  command -v "$1" >/dev/null
}
have_hyperfine=yes
install_if_missing hyperfine hyperfine || have_hyperfine=no
[ "$have_hyperfine" = yes ] || echo "hyperfine is missing: timing with a plain loop" >&2
have_time=yes
[ -x /usr/bin/time ] || install_if_missing /usr/bin/time time || have_time=no
[ "$have_time" = yes ] || echo "/usr/bin/time is missing: no memory rows" >&2

# 2,000,000 lines of 10 to 90 bytes of text each, plus the line feed, drawn
# with a Park-Miller generator: every product stays below 2^53, so any awk
# gives the same bytes.
line_total=2000000
if [ ! -s lines.txt ]; then
  echo "generating lines.txt" >&2
  awk -v count=$line_total 'BEGIN {
    pattern = "";
    for (i = 0; i < 4; i++)
      pattern = pattern "The quick brown fox jumps over the lazy dog; 0123456789 PACK my box!";
    state = 20240611;
    for (n = 0; n < count; n++) {
      state = (state * 16807) % 2147483647;
      length_of_text = 10 + state % 81;
      state = (state * 16807) % 2147483647;
      print substr(pattern, 1 + state % 100, length_of_text);
    }
  }' >lines.txt
fi
if [ ! -s line64.txt ]; then
  echo "generating line64.txt" >&2
  { head -c $((64 * 1024 * 1024)) /dev/zero | tr '\0' 'x'; printf '\n'; } >line64.txt
fi
lines_bytes=$(wc -c <lines.txt)
echo "lines.txt: $lines_bytes bytes, sha256 $(sha256sum lines.txt | cut -c1-16)" >&2

# median_of SHELL_MODE RUNS WARMUPS COMMAND...: the median wall time in seconds
# of each command, in order, one per line. SHELL_MODE "none" runs a command
# without a shell between (hyperfine only; the plain loop always starts a
# shell, whose start-up then counts in every time).
median_of() {
  local shell_mode=$1 run_count=$2 warmups=$3
  shift 3
  if [ "$have_hyperfine" = yes ]; then
    local names=() index=0
    for command in "$@"; do names+=(-n "c$index"); index=$((index + 1)); done
    local shell_option=()
    [ "$shell_mode" = none ] && shell_option=(-N)
    hyperfine "${shell_option[@]}" --style basic --warmup "$warmups" --runs "$run_count" \
      --export-csv timings.csv "${names[@]}" "$@" >&2
    awk -F, 'NR > 1 { print $4 }' timings.csv
  else
    for command in "$@"; do
      local times=() run
      for run in $(seq "$warmups"); do sh -c "$command" >/dev/null; done
      for run in $(seq "$run_count"); do
        local start end
        start=$(date +%s%N)
        sh -c "$command" >/dev/null
        end=$(date +%s%N)
        times+=("$(awk -v d=$((end - start)) 'BEGIN { printf "%.9f", d / 1e9 }')")
      done
      printf '%s\n' "${times[@]}" | sort -g | awk '{ v[NR] = $1 } END {
        print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
    done
  fi
}

table_rows=()
# add_rows WORKLOAD UNIT TARGET MEDIANS COMMANDS...: the first command is
# vorn, the second the reference; the ratio is each median over the
# reference's.
add_rows() {
  local workload=$1 unit=$2 target=$3 medians=$4
  shift 4
  local values=() index=0
  mapfile -t values <<<"$medians"
  local reference=${values[1]}
  for command in "$@"; do
    local value=${values[$index]} shown ratio verdict="" target_cell=""
    if [ "$unit" = ms ]; then
      shown=$(awk -v v="$value" 'BEGIN { printf "%.2f ms", v * 1000 }')
    else
      shown="$value KiB"
    fi
    ratio=$(awk -v v="$value" -v r="$reference" 'BEGIN { printf "%.2f", v / r }')
    if [ "$index" = 0 ]; then
      target_cell="≤ $target"
      verdict=$(awk -v v="$value" -v r="$reference" -v t="$target" \
        'BEGIN { print (v / r <= t) ? "met" : "not met" }')
    elif [ "$index" = 1 ]; then
      target_cell="reference"
    fi
    # The binary as plain vorn; a pipe escaped so that it stays in its cell.
    local shown_command=${command//"$vorn"/vorn}
    shown_command=${shown_command//|/\\|}
    table_rows+=("| $workload | \`$shown_command\` | $shown | $ratio | $target_cell | $verdict |")
    index=$((index + 1))
  done
}

w1=("$vorn -n 10 lines.txt" "head -n 10 lines.txt")
add_rows W1 ms 1.0 "$(median_of none 300 20 "${w1[@]}")" "${w1[@]}"

last_skip=$((line_total - 10))
w2=("$vorn -s $last_skip lines.txt" "dd if=lines.txt of=/dev/null bs=511 status=none"
  "tail -n +$((last_skip + 1)) lines.txt | head" "sed -n '$((last_skip + 1)),\$p' lines.txt")
add_rows W2 ms 1.1 "$(median_of shell "$runs" 2 "${w2[@]}")" "${w2[@]}"

w3=("$vorn -n -1 lines.txt | cat" "grep --line-buffered '' lines.txt | cat"
  "stdbuf -oL awk 1 lines.txt | cat" "head -n $line_total lines.txt | cat")
# sed -u reads its input a byte at a time, a minute or more here: timed once.
w3_once=("sed -u '' lines.txt | cat")
w3_medians="$(median_of shell "$runs" 1 "${w3[@]}")"$'\n'"$(median_of shell 1 0 "${w3_once[@]}")"
add_rows W3 ms 1.0 "$w3_medians" "${w3[@]}" "${w3_once[@]}"

# peak_memory COMMAND...: the median of three peak resident set sizes (KiB) of
# the first program of each command, whose output goes through cat.
peak_memory() {
  for command in "$@"; do
    local sizes=() run
    for run in 1 2 3; do
      sh -c "/usr/bin/time -f %M -o peak.txt $command | cat >/dev/null"
      sizes+=("$(tail -n 1 peak.txt)")
    done
    printf '%s\n' "${sizes[@]}" | sort -n | sed -n 2p
  done
}
if [ "$have_time" = yes ]; then
  m3=("$vorn -n -1 lines.txt" "head -n $line_total lines.txt" "grep --line-buffered '' lines.txt")
  add_rows "M (W3)" KiB 1.0 "$(peak_memory "${m3[@]}")" "${m3[@]}"
  m64=("$vorn -n 1 line64.txt" "head -n 1 line64.txt" "grep --line-buffered '' line64.txt")
  add_rows "M (64 MiB line)" KiB 1.0 "$(peak_memory "${m64[@]}")" "${m64[@]}"
fi

echo
echo "Machine: $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo 2>/dev/null |
  head -n 1), kernel $(uname -sr)."
echo "lines.txt: $line_total lines, $lines_bytes bytes; line64.txt: one line of 64 MiB."
echo "Medians of $runs runs (W1: 300; sed -u: 1); ratio = median / the reference's median"
echo "(lower is better)."
echo
echo "| workload | command | median | ratio | target | met |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${table_rows[@]}"
