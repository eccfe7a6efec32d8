# Private bytes, working set and handles of morlett.exe over a soak run.
#   gnuplot -e "data='soak.csv'; png='soak-memory.png'" e2e/soak-memory.gp
set terminal pngcairo size 900,480 noenhanced
set output png
set datafile separator ","
set title "morlett.exe during the soak"
set xlabel "minutes"
set ylabel "MB"
set y2label "handles"
set y2tics
set ytics nomirror
set key bottom right
set grid
set yrange [0:*]
set y2range [0:*]
plot data skip 1 using ($1/60):($2/1048576) with linespoints title "private bytes", \
     data skip 1 using ($1/60):($3/1048576) with linespoints title "working set", \
     data skip 1 using ($1/60):4 axes x1y2 with linespoints title "handles"
