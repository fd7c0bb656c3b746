"""The IP table build tool on small made-up sources (no network)."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "data"))
import build_ip_table as tool  # noqa: E402

N = tool.ip_number
NAMES = {"CN": "中国", "US": "美国", "HK": "香港", "JP": "日本"}


def region(country, province="", city="", isp=""):
    return (country, "", province, city, isp)


class Flatten(unittest.TestCase):
    def test_narrowest_range_wins_and_equal_neighbours_merge(self):
        rows = [(0, 255, "A"), (10, 20, "B"), (15, 16, "C"), (100, 199, "A"), (300, 310, "D")]
        self.assertEqual(tool.flatten(rows), [
            (0, 9, "A"), (10, 14, "B"), (15, 16, "C"), (17, 20, "B"), (21, 255, "A"),
            (300, 310, "D")])
        self.assertEqual(tool.flatten([(0, 9, "A"), (10, 19, "A"), (25, 30, "A")]),
                         [(0, 19, "A"), (25, 30, "A")])


class Combine(unittest.TestCase):
    def build(self, countries, owners, regions):
        return {tool.fixed_ip(s): (a, p)
                for s, e, a, p in tool.combine(countries, owners, regions, NAMES)}

    def test_places_by_country(self):
        long_owner = "Owner " + "x" * 80
        records = self.build(
            countries=[(N("1.0.0.0"), N("1.0.0.255"), "CN"), (N("1.0.1.0"), N("1.0.1.255"), "CN"),
                       (N("2.0.0.0"), N("2.0.0.255"), "US"), (N("3.0.0.0"), N("3.0.0.255"), "HK"),
                       (N("4.0.0.0"), N("4.0.0.255"), "JP"), (N("10.0.0.0"), N("10.0.0.255"), "US")],
            owners=[(N("1.0.1.0"), N("1.0.1.255"), "Some Net"), (N("2.0.0.0"), N("2.0.0.255"), "Big Co"),
                    (N("3.0.0.0"), N("3.0.0.255"), long_owner)],
            regions=[(N("1.0.0.0"), N("1.0.0.255"), region("中国", "北京", "北京市", "联通")),
                     (N("1.0.1.0"), N("1.0.1.255"), region("美国", "加利福尼亚")),
                     (N("2.0.0.0"), N("2.0.0.255"), region("美国", "加利福尼亚", "圣何塞", "x")),
                     (N("3.0.0.0"), N("3.0.0.255"), region("中国", "香港")),
                     (N("5.0.0.0"), N("5.0.0.255"), region("日本"))])
        self.assertEqual(records["001.000.000.000"], ("北京市", "联通"))
        # The region table disagrees about the country: its detail is dropped.
        self.assertEqual(records["001.000.001.000"], ("中国", "Some Net"))
        self.assertEqual(records["002.000.000.000"], ("美国", "加利福尼亚 圣何塞 Big Co"))
        area, place = records["003.000.000.000"]
        self.assertEqual(area, "中国香港")
        self.assertTrue(long_owner.startswith(place))
        self.assertLessEqual(len(place.encode("gb18030")), tool.PLACE_BYTES)
        self.assertEqual(records["004.000.000.000"], ("日本", ""))
        # Only the region table knows it; special blocks override the registry.
        self.assertEqual(records["005.000.000.000"], ("日本", ""))
        self.assertEqual(records["010.000.000.000"][0], "局域网")

    def test_texts_are_cut_at_a_character_boundary(self):
        text = "北" * 40
        cut = tool.cut(text, 31)
        self.assertEqual(cut, "北" * 15)


class Check(unittest.TestCase):
    def test_finds_overlaps_and_bad_records(self):
        good = [tool.encode_record(N("1.0.0.0"), N("1.0.0.9"), "a", "p"),
                tool.encode_record(N("1.0.0.10"), N("1.0.0.20"), "b", "")]
        self.assertEqual(tool.check_table(b"".join(good)), [])
        overlap = tool.encode_record(N("1.0.0.5"), N("1.0.0.30"), "c", "")
        self.assertEqual(len(tool.check_table(b"".join(good + [overlap]))), 1)
        self.assertTrue(tool.check_table(b"".join(good)[:-1]))
        broken = bytearray(good[0])
        broken[1:4] = b"9x9"
        self.assertTrue(tool.check_table(bytes(broken)))
        data = b"".join(good)
        self.assertEqual(tool.lookup(data, "1.0.0.15"), ("b", ""))
        self.assertIsNone(tool.lookup(data, "1.0.0.21"))


if __name__ == "__main__":
    unittest.main()
