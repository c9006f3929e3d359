"""`dump`: the whole tree as one JSON document, keys sorted."""
from yolpt import errors, forms, loading
from yolpt.output import to_json


def run(args):
    print(to_json(forms.tree_form(loading.load(args.path)), indent=4))
    return errors.OK
