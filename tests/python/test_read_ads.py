# torvel.read_ads and ClassAd(file): the long form of ad files, one ad per
# block of lines, from paths and from text or binary file objects.
import copy
import io
import pathlib

import pytest
import torvel

ADS = '''MyType = "Machine"
Name = "slot1"
Memory = 64

# the second machine, after two blank lines

Name = "slot2"
Memory = Cpus * 32
Cpus = 4
'''


def test_blocks_from_paths_and_file_objects(tmp_path):
    path = tmp_path / "machines"
    path.write_text(ADS)
    for source in (str(path), path, bytes(path), io.StringIO(ADS), io.BytesIO(ADS.encode())):
        ads = list(torvel.read_ads(source))
        assert [ad["Name"] for ad in ads] == ["slot1", "slot2"]
        assert ads[0].my_type == "Machine" and "MyType" not in ads[0] and ads[1]["Memory"] == 128
    with open(path, "rb") as file:
        assert len(list(torvel.read_ads(file))) == 2 and not file.closed
    assert list(torvel.read_ads(io.StringIO("\n\n# only comments\n"))) == []


def test_bad_line_names_file_and_line_after_the_good_ads(tmp_path):
    path = tmp_path / "broken"
    path.write_text(ADS + "\nName = \"slot3\"\nthis is not an assignment\n")
    ads = torvel.read_ads(path)
    assert next(ads)["Name"] == "slot1" and next(ads)["Name"] == "slot2"
    with pytest.raises(torvel.ParseError) as caught:
        next(ads)
    assert caught.value.line == 12
    assert str(caught.value) == f"{path}:12: not an attribute assignment: this is not an assignment"
    with pytest.raises(StopIteration):
        next(ads)
    with pytest.raises(FileNotFoundError):
        torvel.read_ads(tmp_path / "missing")


class FailingAfterFirstBlock(io.RawIOBase):
    """Hands out the first block, then fails as a broken disk would."""

    def __init__(self):
        self.calls = 0

    def readable(self):
        return True

    def read(self, size=-1):
        self.calls += 1
        if self.calls == 1:
            return b"A = 1\n\n"
        raise OSError(5, "Input/output error")


def test_reading_is_lazy_and_read_errors_propagate():
    source = FailingAfterFirstBlock()
    ads = torvel.read_ads(source)
    assert source.calls == 0
    assert next(ads)["A"] == 1
    with pytest.raises(OSError, match="Input/output error"):
        next(ads)


def test_classad_from_a_file_object_is_one_ad():
    ad = torvel.ClassAd(io.StringIO(ADS))
    assert ad.my_type == "Machine" and ad["Name"] == "slot2" and ad["Memory"] == 128
    with pytest.raises(torvel.ParseError, match="<file>:2: not an attribute assignment: 3 4"):
        torvel.ClassAd(io.BytesIO(b"A = 1\n3 4\n"))
    with pytest.raises(TypeError):
        torvel.ClassAd(io.StringIO("A = 1\n")).update(io.StringIO("B = 2\n"))


def test_policies_of_ads_dropped_one_by_one_answer_as_the_first(tmp_path):
    # Each ad is let go before the next is read, as a loop over a pool does;
    # the policy texts every ad repeats must print, copy and evaluate in
    # every ad as they do in the first.
    policy = "Start = (Memory > 1000) && (Cpus >= 2)\nTwice = Memory * 2\n"
    path = tmp_path / "pool"
    path.write_text("".join(f"Name = \"slot{i}\"\nMemory = {500 * i}\nCpus = {i % 4}\n{policy}\n"
                            for i in range(300)))
    first_text = None
    for i, ad in enumerate(torvel.read_ads(path)):
        text = str(ad.lookup("Start"))
        first_text = first_text or text
        assert text == first_text
        assert ad["Twice"] == 1000 * i
        assert ad["Start"] == (500 * i > 1000 and i % 4 >= 2)
        assert copy.deepcopy(ad) == ad
    assert i == 299
