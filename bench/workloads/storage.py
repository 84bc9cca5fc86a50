"""Storage: builds a tree of arrays seven levels deep, each inner node four arrays and
each leaf an array of 1 to 10 elements at random, and counts the arrays (5461). The
random numbers come from a linear congruential generator whose seed is random[1];
count[1] is the count."""
import sys


def next_random(random):
    seed = (random[1] * 1309 + 13849) & 65535
    random[1] = seed
    return seed


def build_tree_depth(depth, random, count):
    count[1] += 1
    if depth == 1:
        return [0] * (next_random(random) % 10 + 1)
    node = [None] * 4
    i = 0
    while i < 4:
        node[i] = build_tree_depth(depth - 1, random, count)
        i += 1
    return node


def benchmark():
    random, count = [0, 74755], [0, 0]
    build_tree_depth(7, random, count)
    return count[1]


def main(n):
    """Runs the benchmark n times; prints its result, or "wrong" and the result when a
    run does not give 5461."""
    result, verified = 0, True
    i = 0
    while i < n:
        result = benchmark()
        if result != 5461:
            verified = False
        i += 1
    print(result if verified else "wrong %d" % result)


main(int(sys.argv[1]))
