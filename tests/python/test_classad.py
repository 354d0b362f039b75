# torvel.ClassAd: construction, the mapping behaviour, text and XML round
# trips, matching, and ownership of ads taken out of containers.
import collections.abc
import copy
import gc
import os
import pickle
import subprocess

import pytest
import torvel

JOB = '''MyType = "Job"
TargetType = "Machine"
Owner = "alice"; Memory = 64
Note = "semi;colon and \\"quote\\""
# a comment line
Requirements = TARGET.Memory >= MY.Memory && TARGET.Arch == "X86_64"
'''


def machine(memory, arch="X86_64", requirements="TRUE"):
    return torvel.ClassAd(f'MyType = "Machine"; TargetType = "Job"; Memory = {memory}; '
                          f'Arch = "{arch}"; Requirements = {requirements}')


def test_text_form_pieces_and_types():
    ad = torvel.ClassAd(JOB)
    assert ad.my_type == "Job" and ad.target_type == "Machine"
    assert list(ad) == ["Owner", "Memory", "Note", "Requirements"]
    assert len(ad) == 4
    assert ad["Note"] == 'semi;colon and "quote"'
    assert "MyType" not in ad


def test_text_round_trip():
    ad = torvel.ClassAd(JOB)
    text = str(ad)
    assert text.startswith('MyType = "Job"\nTargetType = "Machine"\nOwner = "alice"\n')
    again = torvel.ClassAd(text)
    assert again == ad and str(again) == text


def test_bad_text_raises():
    with pytest.raises(torvel.ParseError) as caught:
        torvel.ClassAd("A = 1\nB = (2 +")
    assert "B = (2 +" in str(caught.value)
    with pytest.raises(torvel.ParseError):
        torvel.ClassAd("A + 1")  # an expression, not an assignment
    with pytest.raises(torvel.ParseError):
        torvel.ClassAd("A = " + "(" * 5000 + "1" + ")" * 5000)  # deeper than the parser goes


def test_from_dict_values():
    ad = torvel.ClassAd({"I": 5, "R": 1.5, "S": 'say "hi"', "B": True, "E": torvel.Expr("I * 2"),
                         "MyType": "Job"})
    assert ad["I"] == 5 and ad["R"] == 1.5 and ad["S"] == 'say "hi"'
    assert ad["B"] == 1 and str(ad.lookup("B")) == "TRUE"
    assert ad["E"] == 10 and ad.my_type == "Job"
    with pytest.raises(TypeError):
        torvel.ClassAd({"L": [1]})
    with pytest.raises(OverflowError):
        torvel.ClassAd({"Big": 2**40})
    with pytest.raises(ValueError):
        torvel.ClassAd({"not a name": 1})


def test_mapping_behaviour():
    ad = torvel.ClassAd("A = 1; B = A + 1")
    assert ad["B"] == 2
    assert str(ad.lookup("B")) == "A + 1"
    ad["A"] = 10
    assert ad["B"] == 11
    ad["C"] = torvel.Expr("A * B")
    assert ad["C"] == 110 and list(ad) == ["B", "A", "C"]
    assert "a" in ad and "Z" not in ad and 3 not in ad
    assert ad.get("Z") is None and ad.get("Z", 7) == 7 and ad.get("A", 7) == 10
    with pytest.raises(KeyError):
        ad["Z"]
    with pytest.raises(KeyError):
        ad.lookup("Z")
    del ad["A"]
    assert "A" not in ad and ad["B"] is torvel.Undefined
    with pytest.raises(KeyError):
        del ad["A"]
    assert list(ad.keys()) == ["B", "C"]
    ad["Loop"] = torvel.Expr("Loop + 1")
    assert ad["Loop"] is torvel.Error


def test_eval_in_the_ad():
    job = torvel.ClassAd(JOB)
    m = machine(128)
    assert job.eval("Memory * 2") == 128
    assert job.eval(torvel.Expr("TARGET.Memory"), target=m) == 128
    assert job.eval("Requirements", m) == 1
    assert job.eval("TARGET.Memory") is torvel.Undefined
    with pytest.raises(torvel.ParseError):
        job.eval("1 +")


def test_xml_round_trip():
    job = torvel.ClassAd(JOB)
    job["Ratio"] = 0.5
    xml = job.to_xml()
    assert '<a n="Owner"><s>alice</s></a>' in xml
    back = torvel.ClassAd.from_xml(xml)
    assert back == job
    assert back.my_type == "Job" and back["Ratio"] == 0.5
    assert len(torvel.ClassAd.from_xml("not xml")) == 0
    broken = torvel.ClassAd.from_xml('<c><a n="X"><e>1 +</e></a><a n="Y"><i>2</i></a></c>')
    assert "X" not in broken and broken["Y"] == 2


def test_copies_and_equality():
    job = torvel.ClassAd(JOB)
    for dup in (copy.copy(job), copy.deepcopy(job)):
        assert dup == job
        dup["Memory"] = 1
        assert dup != job and job["Memory"] == 64
    reordered = torvel.ClassAd('MyType = "Job"; TargetType = "Machine"; Memory = 64; '
                               'Owner = "alice"; Note = "semi;colon and \\"quote\\""; '
                               'Requirements = TARGET.Memory >= MY.Memory && '
                               'TARGET.Arch == "X86_64"')
    assert reordered == job
    reordered.my_type = "Other"
    assert reordered != job
    assert job != str(job)


def test_matches_and_match_all():
    job = torvel.ClassAd(JOB)
    machines = [machine(32), machine(64), machine(128, "PPC"), machine(256),
                machine(512, requirements="FALSE")]
    assert [job.matches(m) for m in machines] == [False, True, False, True, False]
    assert torvel.match_all(job, machines) == [1, 3]
    assert torvel.match_all(job, tuple(machines)) == [1, 3]
    assert torvel.match_all(job, []) == []
    with pytest.raises(TypeError):
        torvel.match_all(job, [machines[0], "not an ad"])
    with pytest.raises(TypeError):
        torvel.match_all(job, [None])


def test_ads_outlive_their_containers():
    ads = [torvel.ClassAd(f"N = {k}; S = \"{'x' * k}\"") for k in range(50)]
    kept = ads[7]
    expr = kept.lookup("S")
    del ads
    gc.collect()
    assert kept["N"] == 7 and expr.eval() == "x" * 7
    del kept
    gc.collect()
    assert expr.eval() == "x" * 7


def machine_text(memory, arch, requirements, types='MyType = "Machine"\nTargetType = "Job"'):
    return f'{types}\nMemory = {memory}\nArch = "{arch}"\nRequirements = {requirements}\n'


def test_match_all_agrees_with_classad_eval(binary_dir, tmp_path):
    tool = os.path.join(binary_dir, "tools", "classad_eval")
    if not os.access(tool, os.X_OK):
        pytest.skip("classad_eval not built")
    texts = [machine_text(m, arch, req) for m in (32, 64, 100) for arch in ("X86_64", "PPC")
             for req in ("TRUE", 'TARGET.Owner == "alice"', 'TARGET.Owner == "bob"')]
    texts += [machine_text(99, "X86_64", "1", 'MyType = "Machine"\nTargetType = "Any"'),
              machine_text(99, "X86_64", "TRUE", 'MyType = "Slot"\nTargetType = "Job"'),
              machine_text(99, "X86_64", "TRUE", ""),  # no types at all
              machine_text(99, "X86_64", "TRUE", 'MyType = 3\nTargetType = "Job"')]
    job_path = tmp_path / "job"
    job_path.write_text(JOB.replace('"alice"; ', '"alice"\n'))  # the tool reads lines
    expected = []
    for k, text in enumerate(texts):
        path = tmp_path / f"machine{k}"
        path.write_text(text)
        out = subprocess.run([tool, "--match", str(job_path), str(path)],
                             capture_output=True, text=True, check=True).stdout
        if out.strip() == "1":
            expected.append(k)
    machines = [torvel.ClassAd(text) for text in texts]
    assert torvel.match_all(torvel.ClassAd(JOB), machines) == expected
    assert 0 < len(expected) < len(machines)


def test_nul_bytes_raise_instead_of_cutting_text_short():
    # The library reads C strings: a NUL would silently end the text there.
    ad = torvel.ClassAd("A = 1")
    for step in (lambda: torvel.ClassAd("A = 1\x00B = 2"),
                 lambda: torvel.ClassAd({"a": "x\x00y"}),
                 lambda: torvel.ClassAd({"A\x00B": 1}),
                 lambda: torvel.ClassAd.from_xml('<c><a n="A"><i>1</i></a></c>\x00'),
                 lambda: torvel.Expr("1\x00 + 2"),
                 lambda: ad.eval("A\x00 + 1"),
                 lambda: ad["A\x00B"], lambda: ad.get("A\x00"), lambda: ad.lookup("A\x00"),
                 lambda: ad.__setitem__("S", "x\x00y"), lambda: ad.__delitem__("A\x00"),
                 lambda: setattr(ad, "my_type", "Job\x00"),
                 lambda: setattr(ad, "target_type", "Machine\x00")):
        with pytest.raises(ValueError, match="embedded null byte"):
            step()
    assert "A\x00" not in ad and "A" in ad
    assert str(ad) == 'MyType = ""\nTargetType = ""\nA = 1\n'


def test_mutable_mapping_protocol():
    ad = torvel.ClassAd('MyType = "Job"; A = 1; B = A + 1; S = "x"')
    assert isinstance(ad, collections.abc.MutableMapping)
    assert list(ad.keys()) == ["A", "B", "S"] and "b" in ad.keys()
    assert list(ad.values()) == [1, 2, "x"] and list(ad.items())[1] == ("B", 2)
    assert ad.pop("S") == "x" and "S" not in ad and ad.pop("S", None) is None
    with pytest.raises(KeyError):
        ad.pop("S")
    assert ad.setdefault("C", 5) == 5 and ad.setdefault("C", 6) == 5
    ad.update({"D": 4}, E=torvel.Expr("D * 2"))
    ad.update([("F1", 1.5)])
    assert dict(ad) == {"A": 1, "B": 2, "C": 5, "D": 4, "E": 8, "F1": 1.5}
    other = torvel.ClassAd()
    other.update(ad)  # another ad's expressions, not their values
    assert str(other.lookup("B")) == "A + 1" and other["E"] == 8
    assert torvel.ClassAd(ad) == ad and other != ad  # a copy has the types too
    ad.clear()
    assert len(ad) == 0 and ad.my_type == "Job"


def test_copies_pickles_and_structural_equality():
    ad = torvel.ClassAd('MyType = "Job"; Name = strcat("a"; "b"); Up = toUpper(Name); '
                        'Half = 0.5; Big = Half * 1000000; Rest = T')
    ad["Tiny"] = 1e-7  # "%f" prints it as 0.000000
    for again in (copy.copy(ad), copy.deepcopy(ad), pickle.loads(pickle.dumps(ad))):
        assert again == ad and list(again) == list(ad) and again.my_type == "Job"
        assert again["Up"] == "AB" and again["Tiny"] == ad["Tiny"] != 0
    del ad["Tiny"]
    assert torvel.ClassAd(str(ad)) == ad  # the text form, calls and all
    changed = copy.deepcopy(ad)
    changed["Name"] = torvel.Expr('strcat("a"; "c")')
    assert changed != ad


def test_python_type_errors():
    ad = torvel.ClassAd("A = 1")
    for call in (lambda: ad.eval(5), lambda: ad[5], lambda: ad.get(5),
                 lambda: ad.lookup(None), lambda: torvel.ClassAd(5),
                 lambda: torvel.ClassAd({5: 1}), lambda: ad.update([("A", 1, 2)]),
                 lambda: ad.matches("A = 1"), lambda: torvel.Expr(1)):
        with pytest.raises(TypeError):
            call()
    for value in (2**31, -2**31 - 1, 2**100):
        with pytest.raises(OverflowError):
            ad["Big"] = value
    ad["Edge"] = -2**31
    assert ad["Edge"] == -2**31
    assert issubclass(torvel.ParseError, (torvel.TorvelError, ValueError))
    assert issubclass(torvel.ConfigError, (torvel.TorvelError, RuntimeError))
    with pytest.raises(torvel.TorvelError):
        torvel.Expr("1 +")


def test_match_all_takes_any_iterable():
    job = torvel.ClassAd(JOB)
    machines = {64: machine(64), 32: machine(32), 128: machine(128)}
    assert torvel.match_all(job, (m for m in machines.values())) == [0, 2]
    assert torvel.match_all(job, machines.values()) == [0, 2]
    with pytest.raises(TypeError):
        torvel.match_all(job, 5)
