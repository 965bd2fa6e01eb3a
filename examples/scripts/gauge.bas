10 rem Battery gauge in the top right corner: outline, terminal and one
20 rem segment per charge level (0 to 5); low charge is drawn in red
30 dim level, i, x
40 level = 3
50 gosub 200
60 print "battery ", level, "/5"
70 end
200 rem Draw the gauge for the current level
210 color 255, 255, 255
220 box 380, 4, 421, 13
230 fillbox 422, 6, 424, 11
240 color 0, 200, 0
250 if level < 2 then color 255, 0, 0
260 for i = 1 to level
270 x = i * 8 + 374
280 fillbox x, 6, x + 5, 11
290 next
300 return
