10 rem Bar graph: eight bars drawn in a loop along the bottom of the display,
20 rem heights from a small pseudo-random formula, bars over 30 px in red
30 dim i, x, y, h, total
40 for i = 1 to 8
50 h = (i * 37) % 29 + 8
60 x = i * 50 - 28
70 y = 104 - h
80 color 0, 160, 0
90 if h > 30 then color 220, 0, 0
100 fillbox x, y, x + 39, 104
110 total = total + h
120 next
130 color 0, 0, 0
140 line 16, 105, 430, 105
150 print "bars: ", i - 1, ", total height: ", total
