"""The stubs (trel/__init__.pyi) against the compiled module: the same public
names, and for every function and method the same parameters, in the same
order, of the same kinds, with the same defaults. The module's side is read
off pybind11's signature lines in the docstrings."""

import ast
import os
import re

import pytest

import trel

STUBS = os.path.join(os.path.dirname(__file__), "..", "..", "python", "trel", "__init__.pyi")


def split_top_level(text):
    """Splits a parameter list at the commas outside brackets and quotes."""
    parts, depth, quote, current = [], 0, None, ""
    for ch in text:
        if quote:
            quote = None if ch == quote else quote
        elif ch in "'\"":
            quote = ch
        elif ch in "([{":
            depth += 1
        elif ch in ")]}":
            depth -= 1
        elif ch == "," and depth == 0:
            parts.append(current.strip())
            current = ""
            continue
        current += ch
    if current.strip():
        parts.append(current.strip())
    return parts


def module_signatures(function):
    """[(name, kind, default)] of each overload in a pybind11 docstring."""
    name = function.__name__
    lines = re.findall(r"^(?:\d+\. )?" + re.escape(name) + r"\((.*)\) ->", function.__doc__ or "", re.M)
    overloads = []
    for params in lines:
        if params == "*args, **kwargs":
            continue
        kind, out = "positional", []
        for part in split_top_level(params):
            if part == "*":
                kind = "keyword"
                continue
            pname, _, default = part.partition(" = ")
            pname = pname.split(":")[0].strip()
            if pname != "self":
                out.append((pname, kind, ast.literal_eval(default) if default else None))
        overloads.append(out)
    return overloads


def stub_signature(node):
    args = node.args
    positional = [a.arg for a in args.posonlyargs + args.args if a.arg != "self"]
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    out = [(n, "positional", d) for n, d in zip(positional, defaults)]
    out += [(a.arg, "keyword", d) for a, d in zip(args.kwonlyargs, args.kw_defaults)]
    return [(n, k, None if d is None or isinstance(d, ast.Constant) and d.value is ... else ast.literal_eval(d))
            for n, k, d in out]


def stub_tree():
    with open(STUBS, encoding="utf-8") as stubs:
        return ast.parse(stubs.read())


def public(names):
    return {n for n in names if not n.startswith("_") or n in ("__init__", "__len__", "__getitem__",
                                                            "__setitem__", "__contains__")}


def stub_members(class_node):
    names = set()
    for node in class_node.body:
        if isinstance(node, ast.FunctionDef):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.add(node.target.id)
    return names


def stub_items():
    """(path, stub def node, module object) for every function and method."""
    items = []
    for node in stub_tree().body:
        if isinstance(node, ast.FunctionDef):
            items.append((node.name, node, getattr(trel, node.name)))
        elif isinstance(node, ast.ClassDef) and node.name != "Error":
            cls = getattr(trel, node.name)
            for member in node.body:
                if isinstance(member, ast.FunctionDef) and not any(
                        isinstance(d, ast.Name) and d.id == "property" for d in member.decorator_list):
                    items.append((node.name + "." + member.name, member, getattr(cls, member.name)))
    return items


def test_the_stubs_name_every_public_name_of_the_module_and_no_other():
    tree = stub_tree()
    stub_names = {n.name for n in tree.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    module_names = {n for n in trel.__all__ if callable(getattr(trel, n))}
    assert stub_names - {"Frame"} == module_names
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and node.name != "Error":
            cls = getattr(trel, node.name)
            members = public(vars(cls))
            if "__init__" in members and not module_signatures(cls.__init__):
                members.remove("__init__")  # no constructor bound: made by the module only
            assert stub_members(node) == members, node.name


@pytest.mark.parametrize("path, node, function", [pytest.param(*item, id=item[0]) for item in stub_items()])
def test_each_stub_signature_is_the_modules(path, node, function):
    stub = stub_signature(node)
    overloads = module_signatures(function)
    assert overloads, f"{path}: no signature in its docstring"
    if node.name.startswith("__") and node.name != "__init__":
        # Positional dunder arguments: pybind11 names them arg0, arg1, ...
        assert [len(o) for o in overloads] == [len(stub)], path
        return
    if len(overloads) == 1:
        assert stub == overloads[0], path
    else:
        # One stub for several overloads: it names every parameter any of them has.
        assert {p[0] for p in stub} == {p[0] for o in overloads for p in o}, path
