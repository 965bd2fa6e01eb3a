10 rem Frame the top row of a 16x2 display, underline five cells below it
20 rem Default geometry: cells every 26 px across, rows every 41 px down, dots
30 rem from (15, 15); a cell's dots are 24 px wide and 39 px high
40 dim row, top, bottom, right
50 row = 0
60 top = row * 41 + 12
70 bottom = top + 43
80 color 255, 0, 0
90 box 12, top, 433, bottom
100 rem Underline the first five cells of row 1, two pixels below its dots
110 right = 5 * 26 + 12
120 color 0, 0, 255
130 line 15, 96, right, 96
140 line 15, 97, right, 97
150 print "framed row ", row, ", underlined 5 cells"
