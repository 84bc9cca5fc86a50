"""A counting loop of n passes with integer arithmetic."""
import sys


def main(n):
    i = 0
    s = 0
    while i < n:
        s = (s + i * 3 + (i & 7) + i % 11) % 1000003
        i += 1
    print(s)


main(int(sys.argv[1]))
