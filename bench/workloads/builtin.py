"""Calls of a built-in function from a loop: two calls of abs per pass."""
import sys


def main(n):
    i = 0
    s = 0
    while i < n:
        s = (s + abs(i % 1000 - 500) + abs(250 - i % 501)) % 1000003
        i += 1
    print(s)


main(int(sys.argv[1]))
