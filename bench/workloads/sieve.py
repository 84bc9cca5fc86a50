"""The sieve of Eratosthenes over 5000 flags, once per run of the benchmark: counts the
primes up to 5000 (669). flags[k] says k may still be prime."""
import sys


def sieve(flags, size):
    prime_count = 0
    i = 2
    while i <= size:
        if flags[i]:
            prime_count += 1
            k = i + i
            while k <= size:
                flags[k] = False
                k += i
        i += 1
    return prime_count


def benchmark():
    flags = [True] * 5001
    return sieve(flags, 5000)


def main(n):
    """Runs the benchmark n times; prints its result, or "wrong" and the result when a
    run does not give 669."""
    result, verified = 0, True
    i = 0
    while i < n:
        result = benchmark()
        if result != 669:
            verified = False
        i += 1
    print(result if verified else "wrong %d" % result)


main(int(sys.argv[1]))
