"""Linked lists: three lists of 15, 10 and 6 elements and the recursive "tail" function
over them, which walks the lists many times; the result is the length of the list it
returns (10). The elements are parallel lists: element e holds the value val[e] and
the next element nxt[e] (0: none); state[1] counts the elements made."""
import sys


def make_list(val, nxt, state, length):
    if length == 0:
        return 0
    e = state[1] + 1
    state[1] = e
    val[e] = length
    nxt[e] = make_list(val, nxt, state, length - 1)
    return e


def list_length(nxt, e):
    if nxt[e] == 0:
        return 1
    return 1 + list_length(nxt, nxt[e])


def is_shorter_than(nxt, x, y):
    x_tail, y_tail = x, y
    while y_tail != 0:
        if x_tail == 0:
            return True
        x_tail = nxt[x_tail]
        y_tail = nxt[y_tail]
    return False


def tail(nxt, x, y, z):
    if is_shorter_than(nxt, y, x):
        return tail(nxt, tail(nxt, nxt[x], y, z), tail(nxt, nxt[y], z, x),
                    tail(nxt, nxt[z], x, y))
    return z


def benchmark():
    val, nxt, state = [0] * 32, [0] * 32, [0, 0]
    result = tail(nxt, make_list(val, nxt, state, 15), make_list(val, nxt, state, 10),
                  make_list(val, nxt, state, 6))
    return list_length(nxt, result)


def main(n):
    """Runs the benchmark n times; prints its result, or "wrong" and the result when a
    run does not give 10."""
    result, verified = 0, True
    i = 0
    while i < n:
        result = benchmark()
        if result != 10:
            verified = False
        i += 1
    print(result if verified else "wrong %d" % result)


main(int(sys.argv[1]))
