"""64-bit integers: a multiplicative generator whose products pass 2^31 (x * 48271 with
x below 2^31), a sum of its values that passes 2^31 after a few steps, and a hash of
them modulo a prime near 10^15; every value stays below 2^63, so no engine wraps."""
import sys


def main(n):
    x, total, h = 1, 0, 0
    i = 0
    while i < n:
        x = x * 48271 % 2147483647
        total = total + x
        h = (h * 31 + (x ^ (total >> 7))) % 1000000000000037
        i += 1
    print("%d %d" % (total, h))


main(int(sys.argv[1]))
