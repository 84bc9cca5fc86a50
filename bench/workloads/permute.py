"""Permutations: visits every arrangement of six elements by recursive swaps, counting
the calls of permute (8660 per run of the benchmark). state[1] is the count."""
import sys


def swap(v, i, j):
    tmp = v[i]
    v[i] = v[j]
    v[j] = tmp


def permute(v, state, n):
    state[1] += 1
    if n != 0:
        n1 = n - 1
        permute(v, state, n1)
        i = n1
        while i >= 0:
            swap(v, n1, i)
            permute(v, state, n1)
            swap(v, n1, i)
            i -= 1


def benchmark():
    v, state = [0] * 6, [0, 0]
    permute(v, state, 6)
    return state[1]


def main(n):
    """Runs the benchmark n times; prints its result, or "wrong" and the result when a
    run does not give 8660."""
    result, verified = 0, True
    i = 0
    while i < n:
        result = benchmark()
        if result != 8660:
            verified = False
        i += 1
    print(result if verified else "wrong %d" % result)


main(int(sys.argv[1]))
