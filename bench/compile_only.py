"""Compiles a Python file without running it: the Python side of the compile benchmark."""
import sys

with open(sys.argv[1], "rb") as source:
    compile(source.read(), sys.argv[1], "exec")
