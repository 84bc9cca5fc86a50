"""Mandelbrot: the set on an n by n grid over [-1.5, 0.5] x [-1, 1], at most 50 steps per
point, with each row's points packed eight to a byte as the bitmap format does; the
result is the exclusive or of all the bytes (50 for n = 750, 191 for n = 500)."""
import sys


def mandelbrot(size):
    total, byte_acc, bit_num = 0, 0, 0
    y = 0
    while y < size:
        ci = (2.0 * y / size) - 1.0
        x = 0
        while x < size:
            zrzr, zi, zizi = 0.0, 0.0, 0.0
            cr = (2.0 * x / size) - 1.5
            z = 0
            not_done = True
            escape = 0
            while not_done and z < 50:
                zr = zrzr - zizi + cr
                zi = 2.0 * zr * zi + ci
                zrzr = zr * zr
                zizi = zi * zi
                if zrzr + zizi > 4.0:
                    not_done = False
                    escape = 1
                z += 1
            byte_acc = (byte_acc << 1) + escape
            bit_num += 1
            if bit_num == 8:
                total ^= byte_acc
                byte_acc = 0
                bit_num = 0
            elif x == size - 1:
                byte_acc <<= 8 - bit_num
                total ^= byte_acc
                byte_acc = 0
                bit_num = 0
            x += 1
        y += 1
    return total


print(mandelbrot(int(sys.argv[1])))
