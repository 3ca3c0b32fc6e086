# The chart of bench/results: gnuplot -e "dir='bench/results'" bench/chart.gp
# Reads engine.dat, com.dat and calls.dat from dir and writes dir/chart.png.
set terminal pngcairo size 1500,520 font "sans,10"
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

set title "Blowfish ECB, native x64 (MB/s, medians)"
set ylabel "MB/s"
plot dir."/engine.dat" using 2:xtic(1) title "OpenSSL BF\\_ecb\\_encrypt" lc rgb "#999999", \
     '' using 3 title "libgcrypt" lc rgb "#6699cc", \
     '' using 4 title "Corvane engine" lc rgb "#cc3333"

set title "64 MiB file, Corvane.dll x64 under Wine (MB/s)"
plot dir."/com.dat" using 2:xtic(1) title "file operation" lc rgb "#cc3333", \
     '' using 3 title "engine alone, same process" lc rgb "#999999"

set title "64-character text, Corvane.dll x64 under Wine"
set ylabel "microseconds per call"
set key off
plot dir."/calls.dat" using 2:xtic(1) lc rgb "#cc3333"
unset multiplot
