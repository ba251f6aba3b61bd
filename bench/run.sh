#!/bin/sh
# Times mkani against `ls -f`, `ls` and bench/mkani.py on folders of 10 thousand to 6 million
# entries, hot cache, and prints a table of medians and peak memory. Checks on every folder
# that mkani and the Python script write the same main.ani, and that mkani runs within 64 MiB of
# address space.
#   bench/run.sh [COUNT...]          (default: 10000 100000 1000000 3000000 6000000)
# Folders are made once under $MKANI_BENCH_DIR (default /tmp/mkani-bench) and kept for reruns;
# remove that folder when done. A folder takes about one inode and 250 bytes of disk per entry
# with its scripts; a size the file system lacks room for is skipped. Needs hyperfine and GNU
# time (Debian: hyperfine, time).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
work=${MKANI_BENCH_DIR:-/tmp/mkani-bench}
[ $# -gt 0 ] || set -- 10000 100000 1000000 3000000 6000000
for tool in hyperfine /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 2; }
done

cd "$top"
cmake --preset release >/dev/null
cmake --build --preset release --target mkani make_folder >/dev/null
mkani="$top/build/release/mkani"
python="python3 $top/bench/mkani.py"
mkdir -p "$work"

echo "machine: $(nproc) x $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"\
  "$(free -g | awk '/Mem:/ {print $2}') GiB, Linux $(uname -r), $(df -T "$work" | awk 'NR==2 {print $2}'),"\
  "LC_ALL=${LC_ALL:-} LANG=${LANG:-}"
echo
echo "| entries | mkani | ls -f | ls | Python | mkani / ls -f | paired mkani / ls -f | µs per picture | ls / mkani | Python / mkani | peak RSS mkani | in 64 MiB of address space | peak RSS Python |"
echo "| ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | :---: | ---: |"
for count in "$@"; do
  dir="$work/$count"
  if [ ! -e "$dir/.complete" ]; then
    rm -rf "$dir"
    inodes=$(df --output=iavail "$work" | tail -n 1)
    space=$(df --output=avail "$work" | tail -n 1)  # KiB
    if [ "$inodes" -lt $((count + 1000)) ] || [ "$space" -lt $((count / 4 + 102400)) ]; then
      echo "| $count | skipped: needs $count inodes and $((count / 4096 + 100)) MiB under $work, which has $inodes and $((space / 1024)) MiB |"
      continue
    fi
    mkdir -p "$dir"
    "$top/build/release/make_folder" "$dir" "$count"
    touch "$dir/.complete"
  fi
  cd "$dir"
  $python && mv main.ani "$work/python.ani"
  "$mkani"
  cmp -s main.ani "$work/python.ani" || { echo "bench: main.ani differs from Python's in $dir" >&2; exit 1; }
  rm -f "$work/python.ani"

  runs=10
  [ "$count" -le 100000 ] && runs=30
  [ "$count" -ge 3000000 ] && runs=5
  hyperfine --warmup 2 --runs "$runs" -N --export-json "$work/$count.json" \
    "$mkani" "ls -f" "ls" "$python" >/dev/null 2>&1
  rss_mkani=$(/usr/bin/time -f %M "$mkani" 2>&1 >/dev/null)
  rss_python=$(/usr/bin/time -f %M $python 2>&1 >/dev/null)
  limited=no
  (ulimit -v 65536 && "$mkani") && limited=yes
  python3 - "$work/$count.json" "$count" "$rss_mkani" "$rss_python" "$limited" "$mkani" <<'PY'
import json, statistics, subprocess, sys, time
results = [r["median"] for r in json.load(open(sys.argv[1]))["results"]]
mkani, ls_f, ls, python = results
count = int(sys.argv[2])
pictures = count - count // 10

# mkani and ls -f one after the other, nine times: the ratio of each pair, whatever the machine
# was doing meanwhile.
def timed(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start
paired = statistics.median(timed([sys.argv[6]]) / timed(["ls", "-f"]) for _ in range(9))

ms = lambda s: "%.1f ms" % (s * 1000)
mib = lambda kb: "%.1f MiB" % (int(kb) / 1024)
print("| %s | %s | %s | %s | %s | %.2f | %.2f | %.3f | %.1f | %.1f | %s | %s | %s |" % (
    format(count, ","), ms(mkani), ms(ls_f), ms(ls), ms(python), mkani / ls_f, paired,
    mkani / pictures * 1e6, ls / mkani, python / mkani, mib(sys.argv[3]), sys.argv[5],
    mib(sys.argv[4])))
PY
done
