"""Calls with several parameters and locals: each pass of the loop calls a function of
five parameters and four locals, which calls a function of three parameters and one
local. Every value stays below 2^31."""
import sys


def mix(a, b, c):
    t = a * 31 + b
    return (t ^ c) & 65535


def step(a, b, c, d, e):
    s = a + b
    p = c * 7 + d
    q = mix(s, p, e)
    r = (q + s + p) % 9973
    return r


def main(n):
    acc = 0
    i = 0
    while i < n:
        acc = (acc + step(i & 1023, acc, i % 7, 3, i >> 3)) % 1000003
        i += 1
    print(acc)


main(int(sys.argv[1]))
