"""`dump`: the whole tree as one JSON document, keys sorted."""
import argparse

from yolpt import errors, forms, loading
from yolpt.output import to_json


def run(args: argparse.Namespace) -> int:
    print(to_json(forms.tree_form(loading.load(args.path)), indent=4))
    return errors.OK
