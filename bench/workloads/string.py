"""String building and string functions on short words; the line is emptied every 60 bytes."""
import sys


def main(n):
    letters = "abcdefghijklmnopqrstuvwxyz"
    i = 0
    total = 0
    chars = 0
    line = ""
    while i < n:
        k = i % 26
        w = letters[k:k + 3] + "-" + str(i % 100)
        u = w.upper()
        total = total + u.find("-") + 1 + len(w)
        line = line + u[0:2]
        if len(line) >= 60:
            chars = chars + len(line)
            total = total + line.find("XY") + 1
            line = ""
        i += 1
    print("%d %d <%s>" % (total, chars, line))


main(int(sys.argv[1]))
