10 rem Reads a percentage from standard input and draws it as a level bar
20 rem under the bottom row: run with  echo 42 | vimbracli ...
30 dim p, w
40 input "Level (0-100): ", p
50 if p < 0 then p = 0
60 if p > 100 then p = 100
70 w = p * 4
80 color 255, 255, 255
90 box 20, 97, 425, 104
100 color 0, 120, 255
110 if p > 0 then fillbox 21, 98, w + 20, 103
120 print "level ", p, "%"
