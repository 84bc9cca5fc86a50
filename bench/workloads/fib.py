"""Recursive calls: the naive Fibonacci recursion."""
import sys


def fib(k):
    if k < 2:
        return k
    return fib(k - 1) + fib(k - 2)


print(fib(int(sys.argv[1])))
