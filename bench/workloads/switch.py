"""A dispatch loop over eight cases, as an if/elif chain (case 6 falls into case 7)."""
import sys


def main(n):
    i = 0
    acc = 0
    while i < n:
        k = i % 8
        if k == 0:
            acc = acc + 1
        elif k == 1:
            acc = acc + 3
        elif k == 2:
            acc = acc * 2 % 1000003
        elif k == 3:
            acc = acc + 11
        elif k == 4:
            acc = acc + i % 13
        elif k == 5:
            acc = acc ^ 5
        elif k == 6:
            acc = (acc + 7) % 1000003
        elif k == 7:
            acc = acc % 1000003
        i += 1
    print(acc)


main(int(sys.argv[1]))
