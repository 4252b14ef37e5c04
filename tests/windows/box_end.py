# The receiver box's end of a pseudo-terminal: writes the other end's name to WORK/pty
# and appends every byte the program sends to WORK/received.bin until killed. With a
# second argument TAG, WORK/ptyTAG and WORK/receivedTAG.bin: a box on a new terminal.
import os
import pty
import sys
import tty

work = sys.argv[1]
tag = sys.argv[2] if len(sys.argv) > 2 else ""
master, slave = pty.openpty()
tty.setraw(slave)
with open(os.path.join(work, "pty.tmp"), "w") as f:
    f.write(os.ttyname(slave))
os.rename(os.path.join(work, "pty.tmp"), os.path.join(work, "pty" + tag))
with open(os.path.join(work, "received" + tag + ".bin"), "ab", buffering=0) as out:
    while True:
        try:
            data = os.read(master, 4096)
        except OSError:
            break
        if not data:
            break
        out.write(data)
