#!/bin/sh
# plot_tone.sh WAVHZ OUTPUT.png
# Draws the picture in docs/design.md from files wavhz writes: a 1 kHz tone
# at level 10, 3 ms from its start and from 10 minutes in, 50 ms from 13
# hours in. Far into a tone theta is a float with few bits below the point
# (at 10 minutes its steps are 0.25 radians apart, at 13 hours 32), and the
# wave turns into stairs, then into a few levels held for many periods. Needs gnuplot (Debian's gnuplot-nox) and, for the 13-hour tone,
# about 4.2 GB of memory: wavhz builds the whole file before it writes it.
# `./build.sh picture` installs gnuplot and runs this.
set -eu
wavhz=$1
output=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for start in 0 600 46800; do
  samples=133  # 3 ms at 44,100 samples a second
  [ "$start" -lt 46800 ] || samples=2205  # 50 ms
  # The tone up to one second past START, through a pipe; only the samples
  # from START on are kept (after the 44-byte header, 88,200 bytes a second).
  "$wavhz" - 1000 10 $((start + 1)) 2>/dev/null |
    tail -c +$((44 + start * 88200 + 1)) | head -c $((samples * 2)) >"$work/$start.raw"
done

gnuplot <<GNUPLOT
set terminal pngcairo size 900,600 font ",10"
set output "$output"
set multiplot layout 3,1 title "wavhz OUT 1000 10 SECONDS: a 1 kHz tone, its 16-bit samples"
set yrange [-36000:36000]
set ytics 32768
set xlabel "ms"
set style data linespoints
set pointsize 0.4
set xrange [0:3]
plot "$work/0.raw" binary format="%int16" endian=little using (\$0 / 44.1):1 title "from 0 s" lc rgb "#1f77b4"
plot "$work/600.raw" binary format="%int16" endian=little using (\$0 / 44.1):1 title "from 600 s (10 minutes)" lc rgb "#ff7f0e"
set xrange [0:50]
plot "$work/46800.raw" binary format="%int16" endian=little using (\$0 / 44.1):1 title "from 46,800 s (13 hours)" lc rgb "#d62728"
unset multiplot
GNUPLOT
echo "$output: drawn"
