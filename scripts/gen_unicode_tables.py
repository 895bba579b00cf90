#!/usr/bin/env python3
"""Generates, from the Unicode Character Database of Debian's unicode-data
package, unicode/SupUnicodeData.cpp, the normalisation tables of the wide
string list, and unicode/UniWordBoundaryData.cpp, the characters that end a
whole word for the wide replace.

The package follows the newest Unicode version; the list's tables hold the
characters of Unicode 4.1 only, so every character is filtered by its Age
(DerivedAge.txt). Each table is emitted as the little-endian 32-bit words of its
resource layout, so the loader reads exactly what it would read from a resource:

  DECOMPOSITION  count N, then N x (code, length L, L code points)
                 code: bits 0-23 the code point, bit 30 set for a compatibility
                 mapping. Only characters whose own canonical mapping has two or
                 more code points; the stored mapping is the full (recursive) one.
                 Singletons and Hangul syllables have no entry.
  COMBINING      records (class C, range count R, R x (first, last)), one per
                 class in ascending order.
  COMPOSITION    count N, then N x (first << 16 | second, composite), sorted by
                 key: every character whose one-level canonical mapping is
                 exactly two code points, all three in the BMP, less the
                 composition exclusions.

Two departures from the standard's composition exclusions are part of the data
the list has always used and are kept on purpose:
  - U+FB1D is composed (the pair U+05D9, U+05B4 is present);
  - the characters whose decomposition starts with a non-starter (U+0344,
    U+0F73, U+0F75, U+0F81) keep their pairs. Only CompositionExclusions.txt is
    applied, not the derived full composition exclusion.

The word-boundary table takes the package's own Unicode version: every BMP
character of the general categories P* (punctuation), S* (symbols) and Z*
(separators), plus TAB, LF, VT, FF and CR, as sorted ranges (first, last).

Usage: gen_unicode_tables.py [UCD_DIR] [OUTPUT] [BOUNDARY_OUTPUT]
"""

import sys
from pathlib import Path

UNICODE_VERSION = (4, 1)
KEPT_COMPOSITES = {0xFB1D}

EXPECTED_DECOMPOSITIONS = 1002
EXPECTED_DECOMPOSITIONS_ABOVE_BMP = 13
EXPECTED_COMBINING_CLASSES = 53
EXPECTED_COMBINING_CODE_POINTS = 384
EXPECTED_COMPOSITIONS = 922
EXPECTED_EXCLUDED = 80


def data_lines(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield line


def parse_range(text):
    if ".." in text:
        first, last = text.split("..")
        return int(first, 16), int(last, 16)
    return int(text, 16), int(text, 16)


def read_ages(ucd):
    ages = {}
    for line in data_lines(ucd / "DerivedAge.txt"):
        cps, version = (x.strip() for x in line.split(";"))
        major, minor = version.split(".")
        first, last = parse_range(cps)
        for cp in range(first, last + 1):
            ages[cp] = (int(major), int(minor))
    return ages


def read_unicode_data(ucd, assigned):
    """Canonical combining classes and canonical mappings of the assigned
    characters. Ranges (<..., First>/<..., Last>) carry neither."""
    ccc, canonical = {}, {}
    with open(ucd / "UnicodeData.txt", encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            cp = int(fields[0], 16)
            if not assigned(cp):
                continue
            if int(fields[3]):
                ccc[cp] = int(fields[3])
            mapping = fields[5]
            if mapping and not mapping.startswith("<"):
                canonical[cp] = [int(x, 16) for x in mapping.split()]
    return ccc, canonical


def read_exclusions(ucd, assigned):
    result = set()
    for line in data_lines(ucd / "CompositionExclusions.txt"):
        first, last = parse_range(line)
        result.update(cp for cp in range(first, last + 1) if assigned(cp))
    return result


def build(ucd):
    ages = read_ages(ucd)

    def assigned(cp):
        return cp in ages and ages[cp] <= UNICODE_VERSION

    ccc, canonical = read_unicode_data(ucd, assigned)

    def full(cp):
        if cp not in canonical:
            return [cp]
        return [x for part in canonical[cp] for x in full(part)]

    decompositions = {cp: full(cp) for cp, m in sorted(canonical.items()) if len(m) >= 2}

    by_class = {}
    for cp, cls in ccc.items():
        by_class.setdefault(cls, []).append(cp)
    combining = []
    for cls in sorted(by_class):
        ranges = []
        for cp in sorted(by_class[cls]):
            if ranges and ranges[-1][1] + 1 == cp:
                ranges[-1][1] = cp
            else:
                ranges.append([cp, cp])
        combining.append((cls, ranges))

    excluded = read_exclusions(ucd, assigned) - KEPT_COMPOSITES
    compositions = {}
    for cp, m in canonical.items():
        if len(m) == 2 and cp <= 0xFFFF and all(x <= 0xFFFF for x in m) and cp not in excluded:
            compositions[(m[0] << 16) | m[1]] = cp

    checks = [
        ("decompositions", len(decompositions), EXPECTED_DECOMPOSITIONS),
        ("decompositions above U+FFFF", sum(cp > 0xFFFF for cp in decompositions),
         EXPECTED_DECOMPOSITIONS_ABOVE_BMP),
        ("combining classes", len(combining), EXPECTED_COMBINING_CLASSES),
        ("combining code points", len(ccc), EXPECTED_COMBINING_CODE_POINTS),
        ("compositions", len(compositions), EXPECTED_COMPOSITIONS),
        ("excluded composites", len(excluded), EXPECTED_EXCLUDED),
    ]
    for what, got, want in checks:
        if got != want:
            sys.exit(f"{ucd}: {got} {what}, expected {want}; is this the Unicode Character Database?")
    return decompositions, combining, compositions


def words_decomposition(decompositions):
    words = [len(decompositions)]
    for cp, mapping in sorted(decompositions.items()):
        words += [cp, len(mapping), *mapping]
    return words


def words_combining(combining):
    words = []
    for cls, ranges in combining:
        words += [cls, len(ranges)]
        for first, last in ranges:
            words += [first, last]
    return words


def words_composition(compositions):
    words = [len(compositions)]
    for key in sorted(compositions):
        words += [key, compositions[key]]
    return words


def emit_array(name, words):
    lines = [f"extern const std::uint32_t {name}[] = {{"]
    for i in range(0, len(words), 8):
        lines.append("    " + ", ".join(f"0x{w:08X}" for w in words[i:i + 8]) + ",")
    lines.append("};")
    lines.append(f"extern const std::size_t {name}Size = {len(words)};")
    return "\n".join(lines)


BOUNDARY_CONTROLS = (0x09, 0x0A, 0x0B, 0x0C, 0x0D)


def read_word_boundaries(ucd):
    """BMP code points of categories P*, S* and Z*, and the white-space
    controls, as sorted inclusive ranges."""
    chosen = set(BOUNDARY_CONTROLS)
    first_of_range = None
    with open(ucd / "UnicodeData.txt", encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            cp = int(fields[0], 16)
            if cp > 0xFFFF:
                break
            take = fields[2][0] in "PSZ"
            if fields[1].endswith(", First>"):
                first_of_range = cp
                continue
            if fields[1].endswith(", Last>") and first_of_range is not None:
                if take:
                    chosen.update(range(first_of_range, cp + 1))
                first_of_range = None
                continue
            if take:
                chosen.add(cp)
    ranges = []
    for cp in sorted(chosen):
        if ranges and ranges[-1][1] + 1 == cp:
            ranges[-1][1] = cp
        else:
            ranges.append([cp, cp])
    # A sanity check that the file is the database: ASCII's punctuation and
    # symbols fall in exactly these runs.
    ascii_runs = [r for r in ranges if r[0] < 0x80]
    if ascii_runs != [[0x09, 0x0D], [0x20, 0x2F], [0x3A, 0x40], [0x5B, 0x60], [0x7B, 0x7E]]:
        sys.exit(f"{ucd}: unexpected ASCII word boundaries {ascii_runs}")
    return ranges


def emit_boundaries(ranges):
    lines = [
        "// Generated by scripts/gen_unicode_tables.py from the Unicode Character\n"
        "// Database. Do not edit; run the script instead.\n",
        "#include \"unicode/UniWordBoundaryData.h\"\n",
        "namespace uni::data {\n",
        "extern const WordBoundaryRange kWordBoundaries[] = {",
    ]
    for i in range(0, len(ranges), 4):
        lines.append("    " + " ".join(f"{{0x{a:04X}, 0x{b:04X}}}," for a, b in ranges[i:i + 4]))
    lines.append("};")
    lines.append(f"extern const std::size_t kWordBoundariesSize = {len(ranges)};\n")
    lines.append("}  // namespace uni::data\n")
    return "\n".join(lines)


def main():
    root = Path(__file__).resolve().parent.parent
    ucd = Path(sys.argv[1]) if len(sys.argv) > 1 else Path("/usr/share/unicode")
    out = Path(sys.argv[2]) if len(sys.argv) > 2 else root / "unicode" / "SupUnicodeData.cpp"
    boundary_out = (Path(sys.argv[3]) if len(sys.argv) > 3
                    else root / "unicode" / "UniWordBoundaryData.cpp")
    decompositions, combining, compositions = build(ucd)
    text = "\n\n".join([
        "// Generated by scripts/gen_unicode_tables.py from the Unicode Character\n"
        "// Database, filtered to Unicode 4.1. Do not edit; run the script instead.\n\n"
        "#include \"unicode/SupUnicodeData.h\"\n\n"
        "namespace sup::data {",
        emit_array("kDecomposition", words_decomposition(decompositions)),
        emit_array("kCombining", words_combining(combining)),
        emit_array("kComposition", words_composition(compositions)),
        "}  // namespace sup::data\n",
    ])
    out.write_text(text, encoding="utf-8")
    boundary_out.write_text(emit_boundaries(read_word_boundaries(ucd)), encoding="utf-8")


if __name__ == "__main__":
    main()
