10 dim x
20 input "x", x
30 read 3, x
40 write 0, x
50 box 0, 0, x, x
ÿ42
