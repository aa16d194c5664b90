"""The shipped type stubs: every class and every member the module has is in
them with a docstring for users, and the installed wheel carries them beside
the module. (Signatures are checked against the module by mypy's stubtest in
scripts/test-types.)"""
import ast
import pathlib

import pytest

import tamlor

STUBS = pathlib.Path(__file__).resolve().parent.parent / "tamlor-stubs"
# Members every class has from the interpreter, which the stubs need not
# repeat, and the comparison slots a class without equality still shows.
INHERITED = {"__doc__", "__module__", "__new__", "__repr__", "__str__", "__lt__", "__le__", "__gt__", "__ge__",
             "__hash__"}


def stub_classes():
    tree = ast.parse((STUBS / "__init__.pyi").read_text(encoding="utf-8"))
    classes = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            members = {}
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    # A property's docstring sits on its getter; the setter adds none.
                    members.setdefault(item.name, ast.get_docstring(item))
                elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
                    members[item.target.id] = "annotated"
            classes[node.name] = (ast.get_docstring(node), members)
    return classes


CLASSES = stub_classes()


@pytest.mark.parametrize("name", tamlor.__all__)
def test_every_class_and_member_is_documented(name):
    doc, members = CLASSES[name]
    assert doc and len(doc) > 40, f"{name} has no class docstring"
    runtime = getattr(tamlor, name)
    defined = set(vars(runtime)) - INHERITED
    if runtime.__eq__ is not object.__eq__ and "__eq__" in vars(runtime):
        defined |= {"__eq__", "__ne__", "__hash__"}
    else:
        defined -= {"__eq__", "__ne__"}
    missing = sorted(m for m in defined if m not in members)
    assert not missing, f"{name}: not in the stubs: {missing}"
    undocumented = sorted(m for m in defined if not members[m])
    assert not undocumented, f"{name}: no docstring: {undocumented}"
    constructor = "__new__" if runtime.__text_signature__ is not None else None
    if constructor:
        assert members.get(constructor), f"{name}: the constructor has no docstring"


def test_stubs_name_only_what_the_module_has():
    assert [name for name in CLASSES if not name.startswith("_")] == tamlor.__all__


def test_the_installed_module_carries_the_stubs():
    if "site-packages" not in tamlor.__file__:
        pytest.skip("the module was not imported from an installed wheel")
    installed = pathlib.Path(tamlor.__file__).resolve().parent / "tamlor-stubs"
    for name in ("__init__.pyi", "py.typed"):
        assert (installed / name).read_bytes() == (STUBS / name).read_bytes()
