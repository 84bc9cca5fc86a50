"""Bouncing balls: 100 balls at random places with random speeds move 50 steps in a box
of 500 by 500, and the benchmark counts their bounces off the walls (1331). The balls
are parallel lists x, y, x_vel, y_vel indexed by ball. The random numbers come from a
linear congruential generator whose seed is random[1]."""
import sys


def next_random(random):
    seed = (random[1] * 1309 + 13849) & 65535
    random[1] = seed
    return seed


def bounce(x, y, x_vel, y_vel, b):
    x_limit, y_limit = 500, 500
    bounced = False
    x[b] = x[b] + x_vel[b]
    y[b] = y[b] + y_vel[b]
    if x[b] > x_limit:
        x[b] = x_limit
        x_vel[b] = 0 - abs(x_vel[b])
        bounced = True
    if x[b] < 0:
        x[b] = 0
        x_vel[b] = abs(x_vel[b])
        bounced = True
    if y[b] > y_limit:
        y[b] = y_limit
        y_vel[b] = 0 - abs(y_vel[b])
        bounced = True
    if y[b] < 0:
        y[b] = 0
        y_vel[b] = abs(y_vel[b])
        bounced = True
    return bounced


def benchmark():
    ball_count = 100
    random = [0, 74755]
    x, y = [0] * (ball_count + 1), [0] * (ball_count + 1)
    x_vel, y_vel = [0] * (ball_count + 1), [0] * (ball_count + 1)
    b = 1
    while b <= ball_count:
        x[b] = next_random(random) % 500
        y[b] = next_random(random) % 500
        x_vel[b] = next_random(random) % 300 - 150
        y_vel[b] = next_random(random) % 300 - 150
        b += 1
    bounces = 0
    i = 0
    while i < 50:
        b = 1
        while b <= ball_count:
            if bounce(x, y, x_vel, y_vel, b):
                bounces += 1
            b += 1
        i += 1
    return bounces


def main(n):
    """Runs the benchmark n times; prints its result, or "wrong" and the result when a
    run does not give 1331."""
    result, verified = 0, True
    i = 0
    while i < n:
        result = benchmark()
        if result != 1331:
            verified = False
        i += 1
    print(result if verified else "wrong %d" % result)


main(int(sys.argv[1]))
