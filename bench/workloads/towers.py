"""Towers of Hanoi: 14 disks are stacked on the first pile, then the top 13 are moved to
the second, 8191 moves. Each pile is a linked list of disk records; the records are
parallel lists: disk d has the size size[d] and the disk below it below[d] (0: none),
and piles[p] is the top disk of pile p (p = 1, 2, 3). state[1] counts the moves and
state[2] the disk records made."""
import sys

DISKS = 13


def push_disk(piles, size, below, disk, pile):
    top = piles[pile]
    if top != 0:
        if size[disk] >= size[top]:
            print("cannot put a big disk onto a smaller one")
            sys.exit(1)
    below[disk] = top
    piles[pile] = disk


def pop_disk_from(piles, below, pile):
    top = piles[pile]
    if top == 0:
        print("cannot take a disk from an empty pile")
        sys.exit(1)
    piles[pile] = below[top]
    below[top] = 0
    return top


def move_top_disk(piles, size, below, state, source, target):
    push_disk(piles, size, below, pop_disk_from(piles, below, source), target)
    state[1] += 1


def build_tower_at(piles, size, below, state, pile, disks):
    i = disks
    while i >= 0:
        disk = state[2] + 1
        state[2] = disk
        size[disk] = i
        below[disk] = 0
        push_disk(piles, size, below, disk, pile)
        i -= 1


def move_disks(piles, size, below, state, disks, source, target):
    if disks == 1:
        move_top_disk(piles, size, below, state, source, target)
    else:
        other = 6 - source - target
        move_disks(piles, size, below, state, disks - 1, source, other)
        move_top_disk(piles, size, below, state, source, target)
        move_disks(piles, size, below, state, disks - 1, other, target)


def benchmark():
    piles, state = [0, 0, 0, 0], [0, 0, 0]
    size, below = [0] * (DISKS + 2), [0] * (DISKS + 2)
    build_tower_at(piles, size, below, state, 1, DISKS)
    move_disks(piles, size, below, state, DISKS, 1, 2)
    return state[1]


def main(n):
    """Runs the benchmark n times; prints its result, or "wrong" and the result when a
    run does not give 8191."""
    result, verified = 0, True
    i = 0
    while i < n:
        result = benchmark()
        if result != 8191:
            verified = False
        i += 1
    print(result if verified else "wrong %d" % result)


main(int(sys.argv[1]))
