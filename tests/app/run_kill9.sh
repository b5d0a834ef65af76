#!/bin/sh
# kill -9 of a logging run: every line of the log file but possibly the last
# is whole (the lines reach the file as they are written).
set -eu
cli=$1
home=$2
rm -rf "$home"
mkdir -p "$home"
"$cli" run --home "$home" --open DemoData --rate 1 --log "$home/log/kill.txt" --quiet &
pid=$!
# Wait for a few hundred data lines (a minute at most), then kill the run.
tries=0
while :; do
  lines=$(cat "$home"/log/kill_*.txt 2>/dev/null | grep -c '^[0-9]' || true)
  [ "$lines" -ge 300 ] && break
  tries=$((tries + 1))
  if [ $tries -gt 600 ]; then
    kill -9 $pid
    echo "no log lines after 60 s"
    exit 1
  fi
  sleep 0.1
done
kill -9 $pid
wait $pid 2>/dev/null || true
file=$(ls "$home"/log/kill_*.txt | head -n 1)
# Data lines all have the width of the first; only the last may be cut.
awk '
  /^#/ { next }
  { if (width == 0) width = length($0); n++; line[n] = length($0) }
  END {
    for (i = 1; i < n; i++) if (line[i] != width) { print "line " i " has " line[i] " of " width; exit 1 }
    if (n < 300) { print "only " n " lines"; exit 1 }
  }' "$file"
