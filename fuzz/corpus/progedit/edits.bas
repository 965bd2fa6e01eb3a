20 b
10 a
20
0 zero
  30 blank first
40
