# The receiver box's end of a pseudo-terminal: writes the other end's name to WORK/pty
# and appends every byte the program sends to WORK/received.bin until killed.
import os
import pty
import sys
import tty

work = sys.argv[1]
master, slave = pty.openpty()
tty.setraw(slave)
with open(os.path.join(work, "pty.tmp"), "w") as f:
    f.write(os.ttyname(slave))
os.rename(os.path.join(work, "pty.tmp"), os.path.join(work, "pty"))
with open(os.path.join(work, "received.bin"), "ab", buffering=0) as out:
    while True:
        try:
            data = os.read(master, 4096)
        except OSError:
            break
        if not data:
            break
        out.write(data)
