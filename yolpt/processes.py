"""Whether the process that wrote a temporary file still runs."""
import os


def is_running(pid: int) -> bool:
    """False only when no process `pid` exists (or it has died and waits to be
    reaped); True when it runs or when this platform cannot tell."""
    if os.name != "posix":
        return True
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True  # it exists, under another user
    except (OverflowError, ValueError):
        return False  # no process can have that number
    return not _is_zombie(pid)


def _is_zombie(pid: int) -> bool:
    try:
        with open("/proc/%d/stat" % pid) as stat:
            # "pid (command) state ...": the command may itself hold ") ".
            return stat.read().rpartition(")")[2].split()[0] == "Z"
    except (OSError, IndexError):
        return False
