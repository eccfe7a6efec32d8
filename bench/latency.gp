# The warning latency's distribution per program, warm and cold: each sample's latency
# against its rank (an empirical distribution function).
#   gnuplot -e "data='bench-latency.dat'; png='latency.png'" bench/latency.gp
set terminal pngcairo size 900,520 noenhanced
set output png
set title "Caps Lock on -> first sound (Wine, null sink)"
set xlabel "latency (ms)"
set ylabel "share of toggles at or below"
set key bottom right
set grid
set yrange [0:1]
stats data using 3 nooutput
plot for [p in "morlett ref_poll ref_poll_again"] for [k in "warm cold"] \
    "< awk -v p=".p." -v k=".k." '$1==p && $2==k {print $3}' ".data." | sort -n | awk '{a[NR]=$1} END {for (i=1;i<=NR;i++) print a[i], i/NR}'" \
    using 1:2 with steps lw 2 title p." ".k
