# torvel.Expr: parsing, the library's printed form, evaluation and errors.
import copy
import inspect

import pytest
import torvel


def test_printed_form_is_the_librarys():
    # The printer's canonical spacing and its rule for negative operands.
    assert str(torvel.Expr("a+b*2")) == "a + b * 2"
    assert str(torvel.Expr('Name=="x"')) == 'Name == "x"'
    assert str(torvel.Expr("(1+2)*3")) == "(1 + 2) * 3"
    assert repr(torvel.Expr("1+1")) == "Expr('1 + 1')"


def test_parse_error_carries_the_position():
    with pytest.raises(torvel.ParseError) as caught:
        torvel.Expr("1 +* 2")
    assert caught.value.position == 3
    assert isinstance(caught.value, ValueError)
    with pytest.raises(torvel.ParseError) as caught:
        torvel.Expr("")
    assert caught.value.position == 0


def test_eval_without_and_with_ads():
    assert torvel.Expr("2 * 21").eval() == 42
    assert torvel.Expr("7 / 2.0").eval() == 3.5
    assert torvel.Expr('"ab"').eval() == "ab"
    assert torvel.Expr("Missing").eval() is torvel.Undefined
    assert torvel.Expr('1 + "x"').eval() is torvel.Error
    my = torvel.ClassAd("Memory = 64")
    target = torvel.ClassAd("Memory = 128")
    assert torvel.Expr("MY.Memory + TARGET.Memory").eval(my, target) == 192
    assert torvel.Expr("TARGET.Memory").eval(my=my) is torvel.Undefined
    # A bare name the MY ad lacks is looked up in the TARGET ad.
    assert torvel.Expr("Memory").eval(target=target) == 128


def test_singletons_are_falsy_and_named():
    assert not torvel.Undefined and not torvel.Error
    assert repr(torvel.Undefined) == "Undefined" and repr(torvel.Error) == "Error"
    assert torvel.Undefined is not torvel.Error


def test_equality_and_copies():
    e = torvel.Expr("A + 1")
    assert e == torvel.Expr("A+1")
    assert e != torvel.Expr("A + 2")
    assert e != "A + 1"
    assert copy.copy(e) == e and copy.deepcopy(e) == e


def test_version():
    assert torvel.__version__.count(".") == 2
    assert torvel.version().startswith("$TorvelVersion: " + torvel.__version__ + " ")


def test_every_public_function_is_documented():
    undocumented = []
    for name in dir(torvel):
        item = getattr(torvel, name)
        if name.startswith("_") or not callable(item):
            continue
        if not (item.__doc__ or "").strip():
            undocumented.append(name)
        if isinstance(item, type):
            for member, value in vars(item).items():
                if callable(value) and (not member.startswith("_") or member in (
                        "__getitem__", "__setitem__", "__delitem__", "__contains__",
                        "__len__", "__iter__", "__eq__", "__copy__", "__deepcopy__")):
                    doc = getattr(getattr(item, member), "__doc__", None) or ""
                    # pybind11 prefixes the signature; a docstring adds a line after it.
                    # The mapping methods taken from collections.abc are plain functions.
                    needed = 1 if inspect.isfunction(value) else 2
                    if len(doc.strip().splitlines()) < needed and member != "__init__":
                        undocumented.append(f"{name}.{member}")
    assert undocumented == []


def test_equality_and_hash_follow_structure():
    same = ['strcat("a"; b) + 1', 'strcat("a", b) + 1']  # the library prints ';'
    a, b = (torvel.Expr(text) for text in same)
    assert a == b and hash(a) == hash(b) and len({a, b, copy.deepcopy(a)}) == 1
    for other in ('strcat("a", c) + 1', 'strcat("a") + 1', 'strcat("a", b, 1) + 1',
                  'strcmp("a", b) + 1', 'strcat("a", b) + 2', 'strcat("A", b) + 1'):
        assert torvel.Expr(other) != a
    assert torvel.Expr("0.0") == torvel.Expr("-0.0") and \
        hash(torvel.Expr("0.0")) == hash(torvel.Expr("-0.0"))
    assert {torvel.Expr("x + 1"): 1}[torvel.Expr("x+1")] == 1
