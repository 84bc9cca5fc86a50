"""Eight queens, solved ten times per run of the benchmark by backtracking over columns.
Rows, columns and diagonals count from 1: rows[r] says row r is free, maxs[c + r] and
mins[c - r + 8] that the two diagonals through (r, c) are, and queen_rows[r] is the
column of the queen in row r. The result is the columns of the last solution."""
import sys


def is_free(rows, maxs, mins, r, c):
    if not rows[r]:
        return False
    if not maxs[c + r]:
        return False
    return mins[c - r + 8]


def set_free(rows, maxs, mins, r, c, v):
    rows[r] = v
    maxs[c + r] = v
    mins[c - r + 8] = v


def place_queen(rows, maxs, mins, queen_rows, c):
    r = 1
    while r <= 8:
        if is_free(rows, maxs, mins, r, c):
            queen_rows[r] = c
            set_free(rows, maxs, mins, r, c, False)
            if c == 8:
                return True
            if place_queen(rows, maxs, mins, queen_rows, c + 1):
                return True
            set_free(rows, maxs, mins, r, c, True)
        r += 1
    return False


def queens(queen_rows):
    """Places eight queens on an empty board; returns whether it did, and leaves their
    columns in queen_rows."""
    rows, maxs, mins = [True] * 17, [True] * 17, [True] * 17
    i = 1
    while i <= 16:
        queen_rows[i] = 0
        i += 1
    return place_queen(rows, maxs, mins, queen_rows, 1)


def benchmark(queen_rows):
    result = True
    i = 0
    while i < 10:
        if not queens(queen_rows):
            result = False
        i += 1
    return result


def main(n):
    """Runs the benchmark n times; prints the last solution's columns, or "wrong" before
    them when a run found no solution."""
    queen_rows = [0] * 17
    verified = True
    i = 0
    while i < n:
        if not benchmark(queen_rows):
            verified = False
        i += 1
    line = "".join(str(queen_rows[r]) for r in range(1, 9))
    print(("queens " if verified else "wrong ") + line)


main(int(sys.argv[1]))
