// moving-average cross
fast = ma(close, 5)
slow = ma(close, 20)
buy when cross(fast, slow)
sell when cross(slow, fast)
