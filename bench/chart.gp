# The chart of bench/results:
#   gnuplot -e "dir='bench/results'; engine_columns=N" bench/chart.gp
# Reads engine.dat (tab-separated, a header row, N columns), com.dat, com_x86.dat,
# calls.dat and calls_x86.dat from dir and writes dir/chart.png.
set terminal pngcairo size 1700,560 font "sans,10"
set output dir."/chart.png"
set multiplot layout 1,3
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set grid ytics
set xtics rotate by -30 scale 0
set key top left
set yrange [0:*]

set title "Blowfish ECB, native x64 (MB/s, medians): the engine and each kernel it chose among"
set ylabel "MB/s"
set datafile separator "\t"
set key below
plot for [c=2:engine_columns] dir."/engine.dat" using c:xtic(1) title columnheader(c) noenhanced
set datafile separator whitespace

set title "64 MiB file, Corvane.dll under Wine (MB/s)"
plot dir."/com.dat" using 2:xtic(1) title "x64 file operation" lc rgb "#cc3333", \
     '' using 3 title "x64 engine alone, same process" lc rgb "#999999", \
     dir."/com_x86.dat" using 2 title "x86 file operation" lc rgb "#ee8866", \
     '' using 3 title "x86 engine alone, same process" lc rgb "#cccccc"

set key inside top left
set title "64-character text, Corvane.dll under Wine"
set ylabel "microseconds per call"
plot dir."/calls.dat" using 2:xtic(1) title "x64" lc rgb "#cc3333", \
     dir."/calls_x86.dat" using 2 title "x86" lc rgb "#ee8866"
unset multiplot
