"""Array fill and sum: n elements under 1..n, summed in order, then read back in reverse."""
import sys


def main(n):
    a = [0] * (n + 1)
    i = 1
    while i <= n:
        a[i] = i * 2 + 1
        i += 1
    s = 0
    i = 1
    while i <= n:
        s = (s + a[i]) % 1000000007
        i += 1
    w = 0
    i = n
    while i >= 1:
        w = (w * 31 + a[i] % 1000) % 1000003
        i -= 1
    print("%d %d" % (s, w))


main(int(sys.argv[1]))
