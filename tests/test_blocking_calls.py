"""Saves and loads that wait (for a reader of a named pipe, for the lock of a
folder that someone else holds) let the other threads run, go on once the
wait is over, and end with KeyboardInterrupt on Ctrl-C. Each case runs in a
child process, so that a wait that held the interpreter lock would end in the
child's time-out rather than hang the suite."""
import os

import pytest

from support import child_result, run_python

pytestmark = pytest.mark.skipif(os.name != "posix", reason="needs named pipes, flock and pthread_kill")

CHILD = """
import fcntl, json, os, signal, sys, threading, time
import yol_vovoruze as yv

what, held, ending = sys.argv[1:]
signal.signal(signal.SIGINT, signal.default_int_handler)  # a shell may have started the suite with SIGINT ignored
book = yv.ParameterBook({"p": yv.Parameter("d", v=1)})
ticks, got, ended = [0], [], []

def tick():
    while True:
        ticks[0] += 1
        time.sleep(0.005)

if what.startswith("pipe"):
    os.mkfifo("pipe.yolpt")
    def release():
        with open("pipe.yolpt") as pipe:
            got.append(pipe.read())
    work = {"pipe save": lambda: book.save("pipe.yolpt"),
            "pipe load": lambda: yv.ParameterBook.load("pipe.yolpt")}[what]
else:
    yv.ParameterDirectory({"b": book}).save("tree")
    holder = os.open("tree", os.O_RDONLY)
    fcntl.flock(holder, fcntl.LOCK_EX if held == "exclusive" else fcntl.LOCK_SH)
    release = lambda: os.close(holder)
    work = {"save": lambda: yv.ParameterDirectory().save("tree"),
            "load": lambda: yv.ParameterDirectory.load("tree")}[what]

def end():
    time.sleep(0.3)
    seen = ticks[0]
    time.sleep(0.1)
    ended.append(ticks[0] > seen)
    if ending == "interrupt":
        signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)
    else:
        release()

threading.Thread(target=tick, daemon=True).start()
ender = threading.Thread(target=end)
ender.start()
try:
    work()
    outcome = "done"
except KeyboardInterrupt as error:
    tb, names = error.__traceback__, []
    while tb:
        names.append(tb.tb_frame.f_code.co_name)
        tb = tb.tb_next
    outcome = "interrupted in " + names[-1]
waited = bool(ended)
ender.join()
print(json.dumps({"outcome": outcome, "waited": waited, "others ran": waited and ended == [True],
                  "read": got == [str(book)], "pipe": what.startswith("pipe") and os.path.exists("pipe.yolpt")
                  and not os.path.isfile("pipe.yolpt")}))
"""

SAVE, LOAD = "yol_vovoruze.ParameterDirectory.save", "yol_vovoruze.ParameterDirectory.load"


@pytest.mark.parametrize("what, held, ending, outcome", [
    ("pipe save", "", "release", "done"),
    ("pipe save", "", "interrupt", "interrupted in yol_vovoruze.ParameterBook.save"),
    ("pipe load", "", "interrupt", "interrupted in yol_vovoruze.ParameterBook.load"),
    ("save", "exclusive", "interrupt", "interrupted in " + SAVE),
    ("save", "shared", "release", "done"),
    ("load", "exclusive", "interrupt", "interrupted in " + LOAD),
    ("load", "exclusive", "release", "done"),
    ("load", "shared", "release", "done"),  # shared with the holder: no wait
])
def test_a_blocked_call_frees_the_other_threads_and_ends(tmp_path, what, held, ending, outcome):
    # -O: a load of a pipe passes its isfile check only with assertion checks off.
    result = child_result(run_python(CHILD, [what, held, ending], options=["-O"], cwd=tmp_path, timeout=60))
    assert result["outcome"] == outcome
    waits = held != "shared" or what != "load"
    assert result["waited"] == result["others ran"] == waits
    assert result["read"] == (what == "pipe save" and ending == "release")
    assert result["pipe"] == what.startswith("pipe")
