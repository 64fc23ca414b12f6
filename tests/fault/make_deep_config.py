"""Writes a game.json whose first key, "deep", holds arrays nested DEPTH deep, followed by the two
keys the launcher reads. Usage: make_deep_config.py OUTPUT DEPTH"""
import sys

output, depth = sys.argv[1], int(sys.argv[2])
with open(output, "wb") as f:
    f.write(b'{"deep": ' + b"[" * depth + b"]" * depth +
            b',\r\n "productName": "Ostrevan",\r\n "mainBinaryName": "Ostrevan"}\r\n')
