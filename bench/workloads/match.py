"""Matching over many short texts: a wildcard test and a regular expression with captures."""
import fnmatch
import re
import sys


def main(n):
    letters = "abcdefghijklmnopqrstuvwxyz"
    pair = re.compile(r"^([a-z]+)=([0-9]+)$")
    i = 0
    hits = 0
    total = 0
    while i < n:
        k = i % 26
        s = letters[k:k + 3] + "=" + str(i % 1000)
        if fnmatch.fnmatchcase(s, "*e*=*"):
            hits += 1
        m = pair.match(s)
        if m:
            total = (total + int(m.group(2)) + len(m.group(1))) % 1000003
        i += 1
    print("%d %d" % (hits, total))


main(int(sys.argv[1]))
