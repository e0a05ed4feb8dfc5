#!/usr/bin/env python3
"""The Windows 95 warning is in the built module as Shift_JIS (CP932) bytes."""
import sys

WARNING = "TARVOKEYはWindows95では動作しません。"

with open(sys.argv[1], "rb") as f:
    module = f.read()
shift_jis = WARNING.encode("cp932") + b"\0"
if shift_jis not in module:
    print("the warning is not in the module as CP932")
    sys.exit(1)
if WARNING.encode("utf-8") in module:
    print("the warning is in the module as UTF-8")
    sys.exit(1)
print("warning text: CP932, %d bytes" % len(shift_jis))
