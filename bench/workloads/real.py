"""Real arithmetic in a loop: a series for pi and a damped recurrence."""
import sys


def main(n):
    i = 0
    total = 0.0
    sign = 1.0
    x = 0.5
    while i < n:
        total = total + sign / (2 * i + 1)
        sign = -sign
        x = x * 1.0000001 + 0.25 / (x + 1.0)
        i += 1
    print("%.6f %.6f" % (total * 4.0, x))


main(int(sys.argv[1]))
