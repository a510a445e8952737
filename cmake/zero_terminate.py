"""Writes the agreement block: the RTF file followed by two zero bytes."""
import sys

with open(sys.argv[1], "rb") as source:
    data = source.read()
with open(sys.argv[2], "wb") as block:
    block.write(data + b"\0\0")
