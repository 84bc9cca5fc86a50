"""Writes a large Python module to be compiled: the same n functions, groups and main as
the other two languages' generators."""
import sys


def main(n):
    out = []
    put = out.append
    for k in range(n):
        put("def f%d(a, b):\n" % k)
        put("    x = a * %d + b\n" % (k % 13 + 1))
        put("    if x %% 3 == 0:\n        x = x + %d\n    else:\n        x = x - 1\n" % (k % 17))
        put("    y = 0\n")
        put("    while y < 3:\n        y += 1\n        x = x + y * %d\n" % (k % 5))
        put("    m = x % 4\n")
        put("    if m == 0:\n        x = x + 2\n")
        put("    elif m == 1:\n        x = x * 2\n")
        put("    else:\n        x = x + 1\n")
        put("    s = \"f\" + str(%d)\n" % k)
        put("    return x % 1000 + len(s)\n")
    g = 0
    while g * 100 < n:
        put("def g%d():\n" % g)
        put("    t = 0\n")
        k = g * 100
        while k < n and k < g * 100 + 100:
            put("    t = t + f%d(%d, %d)\n" % (k, k % 7 + 1, k % 11))
            k += 1
        put("    return t\n")
        g += 1
    put("def main():\n")
    put("    total = 0\n")
    g = 0
    while g * 100 < n:
        put("    total = total + g%d()\n" % g)
        g += 1
    put("    print(total)\n")
    put("main()\n")
    sys.stdout.write("".join(out))


main(int(sys.argv[1]))
