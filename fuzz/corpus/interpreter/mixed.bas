10 dim i, a
20 for i = 1 to 3
30 a = a + i * 2 ^ 3 % 5
40 print "a="; a,
50 next
60 gosub 100
70 end
100 color 255, 0, 0
110 line -5, -5, 500, 50
120 circle 10, 10, 30
130 if a > 5 then fillbox 1, 1, 4, 4
140 return
