// channel breakout
high20 = highest(high, 20)
low20 = lowest(low, 20)
buy when close > high20[1]
sell when close < low20[1]
