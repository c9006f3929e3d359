"""Helpers that several test files share."""


def read_bytes(path):
    with open(str(path), "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(str(path), "wb") as f:
        f.write(data)
