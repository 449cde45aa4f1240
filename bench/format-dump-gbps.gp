# GB/s of input by count: FormatDump with the kernel the CPU gets and with the table kernel,
# against the fill bound. Called with data, kernel and output set.
set terminal pngcairo size 800,480 font ",11"
set output output
set title "FormatDump by kernel against the fill bound (GB/s of input, 10^9 bytes)"
set xlabel "count (bytes of input)"
set ylabel "GB/s"
set logscale x 2
set xrange [20:33554432]
set xtics ("40" 40, "4 KiB" 4096, "1 MiB" 1048576, "16 MiB" 16777216)
set yrange [0:*]
set key below
set grid ytics
plot data using 1:4 with linespoints lw 2 pt 7 title "fill bound: allocate the block, memset it", \
     data using 1:4:(sprintf("%.2f", $4)) with labels offset 0,1 notitle, \
     data using 1:2 with linespoints lw 2 pt 5 title sprintf("FormatDump, %s kernel (chosen)", kernel), \
     data using 1:2:(sprintf("%.2f", $2)) with labels offset -2.5,0.9 notitle, \
     data using 1:3 with linespoints lw 2 pt 9 title "FormatDump, table kernel forced", \
     data using 1:3:(sprintf("%.2f", $3)) with labels offset 2.5,0.9 notitle
