# Plots a recording of the parallel-port and game-port windows:
#   gnuplot -c docs/plot-recording.gp RECORDING_lpt.csv RECORDING_game.csv picture.png
# The files are comma separated with a header row; columns are taken by their header names.
lpt = ARG1
game = ARG2
set terminal pngcairo size 900,560 font "DejaVu Sans,10"
set output ARG3
set datafile separator ","
set multiplot layout 2,1 title "Simulovaný záznam (diagnostika --simulate --record)"
set grid
set xlabel "čas od začiatku záznamu [s]"
set ylabel "napätie [V]"
set key top left
plot lpt using "cas [s]":"napatievstupu [V]" with linespoints pt 7 ps 0.4 title "TLC549, napätie vstupu"
set ylabel "poloha osi (0..65535)"
set yrange [0:65535]
set key outside right
plot game using "cas [s]":"x" with lines title "X", \
     game using "cas [s]":"y" with lines title "Y", \
     game using "cas [s]":"z" with lines title "Z"
unset multiplot
