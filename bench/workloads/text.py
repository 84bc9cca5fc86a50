"""Text building: appends n lines of about 10 bytes to one string, then prints its length
and a checksum of 64 lines sampled evenly through it."""
import sys


def main(n):
    s = ""
    i = 0
    while i < n:
        line = "item" + str(i) + "."
        s += line + "\n"
        i += 1
    samples = 64
    step = len(s) // samples
    checksum = 0
    j = 0
    while j < samples:
        p = s.find("item", j * step) + 1  # 1-based, 0 when not found
        number = 0
        if p > 0:
            number = int(s[p + 3:s.find(".", p)])
        checksum = (checksum * 31 + p + number) % 1000003
        j += 1
    print("%d %d" % (len(s), checksum))


main(int(sys.argv[1]))
