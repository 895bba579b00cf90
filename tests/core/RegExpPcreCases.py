#!/usr/bin/env python3
"""Writes RegExpPcreCases.inc: pattern/subject pairs in the style of the public
Perl and Python regex test lists, with the match and groups that pcre2test
(pcre2-utils) reports for them.

The engine's dialect is compared where it agrees with PCRE: "." matches every
character and "$" only the very end (PCRE's dotall and dollar_endonly). Where
the dialect differs on purpose, the case carries the engine's own result in
OVERRIDES, with the reason; those expectations are written by hand, not by
pcre2test.

Run from anywhere: python3 tests/core/RegExpPcreCases.py
The output is committed; rerun and review the diff when cases change.
"""

import os
import re
import subprocess
import sys

# (pattern, subject). Subjects hold no NUL and no backslash followed by "x".
CASES = [
    # Literals and simple repeats (Perl re_tests, first block).
    ("abc", "abc"), ("abc", "xbc"), ("abc", "axc"), ("abc", "abx"), ("abc", "xabcy"),
    ("abc", "ababc"), ("ab*c", "abc"), ("ab*bc", "abc"), ("ab*bc", "abbc"), ("ab*bc", "abbbbc"),
    (".{1}", "abbbbc"), (".{3,4}", "abbbbc"), ("ab{0,}bc", "abbbbc"), ("ab+bc", "abbc"),
    ("ab+bc", "abc"), ("ab+bc", "abq"), ("ab{1,}bc", "abq"), ("ab+bc", "abbbbc"),
    ("ab{1,}bc", "abbbbc"), ("ab{1,3}bc", "abbbbc"), ("ab{3,4}bc", "abbbbc"),
    ("ab{4,5}bc", "abbbbc"), ("ab?bc", "abbc"), ("ab?bc", "abc"), ("ab{0,1}bc", "abc"),
    ("ab?bc", "abbbbc"), ("ab?c", "abc"), ("ab{0,1}c", "abc"),
    # Anchors.
    ("^abc$", "abc"), ("^abc$", "abcc"), ("^abc", "abcc"), ("^abc$", "aabc"), ("abc$", "aabc"),
    ("^", "abc"), ("$", "abc"), ("$b", "b"), ("a$", "ab"), ("\\Aab", "xab"), ("ab\\Z", "abab"),
    # Dot and classes.
    ("a.c", "abc"), ("a.c", "axc"), ("a.*c", "axyzc"), ("a.*c", "axyzd"), ("a[bc]d", "abd"),
    ("a[b-d]e", "abd"), ("a[b-d]e", "ace"), ("a[b-d]", "aac"), ("a[-b]", "a-"), ("a[b-]", "a-"),
    ("a]", "a]"), ("a[]]b", "a]b"), ("a[^bc]d", "aed"), ("a[^bc]d", "abd"), ("a[^-b]c", "adc"),
    ("a[^-b]c", "a-c"), ("a[^]b]c", "a]c"), ("a[^]b]c", "adc"), ("a.c", "a\nc"),
    ("[^ab]*", "cde"), ("[k]", "ab"), ("a[-]?c", "ac"), ("[a-zA-Z_][a-zA-Z0-9_]*", "alpha"),
    ("[\\x41-\\x43]+", "xABCD"), ("\\x41\\x{42}", "AB"), ("a\\tb", "a\tb"),
    # Word boundaries and escapes.
    ("\\ba\\b", "a-"), ("\\ba\\b", "-a"), ("\\ba\\b", "-a-"), ("\\by\\b", "xy"), ("\\by\\b", "yz"),
    ("\\by\\b", "xyz"), ("\\Ba\\B", "a-"), ("\\Ba\\B", "-a"), ("\\Ba\\B", "-a-"), ("\\By\\b", "xy"),
    ("\\by\\B", "yz"), ("\\By\\B", "xyz"), ("\\w", "a"), ("\\w", "-"), ("\\W", "a"), ("\\W", "-"),
    ("a\\sb", "a b"), ("a\\sb", "a-b"), ("a\\Sb", "a b"), ("a\\Sb", "a-b"), ("\\d", "1"),
    ("\\d", "-"), ("\\D", "1"), ("\\D", "-"), ("[\\w]", "a"), ("[\\w]", "-"), ("[\\W]", "a"),
    ("[\\W]", "-"), ("a[\\s]b", "a b"), ("a[\\S]b", "a-b"), ("[\\d]", "1"), ("[\\d]", "-"),
    ("a\\(b", "a(b"), ("a\\(*b", "ab"), ("a\\(*b", "a((b"), ("\\w+@\\w+\\.com", "mail: joe@example.com"),
    # Alternation and groups.
    ("ab|cd", "abc"), ("ab|cd", "abcd"), ("()ef", "def"), ("((a))", "abc"), ("(a)b(c)", "abc"),
    ("a+b+c", "aabbabc"), ("a{1,}b{1,}c", "aabbabc"), ("a.+?c", "abcabc"), ("(a+|b)*", "ab"),
    ("(a+|b){0,}", "ab"), ("(a+|b)+", "ab"), ("(a+|b){1,}", "ab"), ("(a+|b)?", "ab"),
    ("(a+|b){0,1}", "ab"), ("([abc])*d", "abbbcd"), ("([abc])*bcd", "abcd"), ("a|b|c|d|e", "e"),
    ("(a|b|c|d|e)f", "ef"), ("abcd*efg", "abcdefg"), ("ab*", "xabyabbbz"), ("ab*", "xayabbbz"),
    ("(ab|cd)e", "abcde"), ("[abhgefdc]ij", "hij"), ("^(ab|cd)e", "abcde"), ("(abc|)ef", "abcdef"),
    ("(a|b)c*d", "abcd"), ("(ab|ab*)bc", "abc"), ("a([bc]*)c*", "abc"), ("a([bc]*)(c*d)", "abcd"),
    ("a([bc]+)(c*d)", "abcd"), ("a([bc]*)(c+d)", "abcd"), ("a[bcd]*dcdcde", "adcdcde"),
    ("a[bcd]+dcdcde", "adcdcde"), ("(ab|a)b*c", "abc"), ("((a)(b)c)(d)", "abcd"),
    ("^a(bc+|b[eh])g|.h$", "abh"), ("(bc+d$|ef*g.|h?i(j|k))", "effgz"),
    ("(bc+d$|ef*g.|h?i(j|k))", "ij"), ("(bc+d$|ef*g.|h?i(j|k))", "effg"),
    ("(bc+d$|ef*g.|h?i(j|k))", "bcdd"), ("(bc+d$|ef*g.|h?i(j|k))", "reffgz"),
    ("((((((((((a))))))))))", "a"), ("(((((((((a)))))))))", "a"), ("multiple words of text", "uh-uh"),
    ("multiple words", "multiple words, yeah"), ("(.*)c(.*)", "abcde"), ("\\((.*), ", "(a, b)"),
    ("abcd", "abcd"), ("a(bc)d", "abcd"), ("(a)|(b)", "b"), ("(a)|(b)", "a"), ("x(a|b)*y", "xababy"),
    ("(a|ab)(c|bcd)(d*)", "abcd"), ("(a|ab)(bcd|c)(d*)", "abcd"),
    # Back-references.
    ("(abc)\\1", "abcabc"), ("([a-c]*)\\1", "abcabc"), ("(a)|\\1", "a"), ("(a)|\\1", "x"),
    ("(([a-c])b*?\\2)*", "ababbbcbc"), ("(([a-c])b*?\\2){3}", "ababbbcbc"), ("(a+)b\\1", "aabaa"),
    ("^(a+)\\1$", "aaaa"), ("^(a+)\\1$", "aaa"), ("(\\w)\\1", "abccd"),
    # Lazy quantifiers and counted repeats.
    ("a.*?c", "abcabc"), ("a{2,3}", "aaaa"), ("a{2,3}?", "aaaa"), ("a+?", "aaa"), ("a*?b", "aab"),
    ("(a+?)(b*)", "aabb"), ("(ab)+?", "ababab"), ("(ab){2}", "abababx"), ("(ab){2,}?", "abababx"),
    ("(ab)*?c", "ababc"), ("(a|b){2,3}c", "ababc"), ("<.*?>", "<a><b>"), ("<.*>", "<a><b>"),
    ("\\d{2,}?-", "12345-"), ("x{0}y", "xy"), ("a{2}", "abaab"),
    # Inline modifiers.
    ("(?i)abc", "ABC"), ("(?i)a[b-d]e", "ACE"), ("(?i)a[^bc]d", "AED"), ("(?i)(a+|b)*", "AB"),
    ("(?i)((a)(b)c)(d)", "ABCD"), ("(?i)a(?-i)b", "Ab"), ("(?i)a(?-i)b", "AB"), ("((?i)a)b", "Ab"),
    ("((?i)a)b", "AB"), ("(?m)^b", "a\nb\nc"), ("(?m)b$", "a\nb\nc"), ("(?m)^c$", "a\nb\nc"),
    ("(?-s)a.c", "a\nc"), ("(?-s)a.+", "abc\nd"), ("(?x) a b c", "abc"), ("(?x)a [b ] c", "a c"),
    ("(?x)a\\ b", "a b"),
    # Registry-shaped subjects.
    ("^HKEY_[A-Z_]+\\\\", "HKEY_LOCAL_MACHINE\\SYSTEM"), ("Control\\\\(\\w+)", "CurrentControlSet\\Control\\Lsa"),
    ("\\{[0-9A-F]{8}-[0-9A-F]{4}", "CLSID {4D36E967-E325-11CE}"), ("(\\d+)\\.(\\d+)", "version 10.0.19041"),
    ("REG_(SZ|DWORD|BINARY)", "type REG_DWORD"), ("^[^=]+=", "\"Name\"=\"data\""),
    # Dialect differences (expectations in OVERRIDES).
    ("a*", ""), ("b*", "ab"), ("x?", "abc"), ("\\b", "ab"), ("(a*)*", "a"), ("(a*)+", "a"),
    ("a**", "a"), ("(?:ab)", "ab"), ("(?=a)a", "a"), ("[\\D]", "1D"), ("[\\b]", "ab"),
    ("a\\Z", "a\n"), ("(?m)a$", "a\r\nb"), ("\\x{100}", "a"),
]

# What the engine gives where its dialect differs from PCRE's:
# ("nomatch",) | ("error", code) | ("match", [groups]).
OVERRIDES = {
    ("a*", ""): (("nomatch",), "no start position is tried at the end of the input"),
    ("b*", "ab"): (("match", ["b"]), "only positions holding a possible first character are tried"),
    ("$", "abc"): (("nomatch",), "an expression that matches only the empty text finds nothing"),
    ("x?", "abc"): (("nomatch",), "an expression that matches only the empty text finds nothing"),
    ("\\b", "ab"): (("nomatch",), "an expression that matches only the empty text finds nothing"),
    ("(a*)*", "a"): (("error", 106), "a starred piece that can match the empty text is rejected"),
    ("(a*)+", "a"): (("error", 106), "a repeated piece that can match the empty text is rejected"),
    ("a**", "a"): (("error", 107), "nested quantifiers"),
    ("(?:ab)", "ab"): (("error", 127), "no non-capturing groups"),
    ("(?=a)a", "a"): (("error", 127), "no lookaround"),
    ("[\\D]", "1D"): (("match", ["D"]), "\\D inside a class is the letter D"),
    ("[\\W]", "-"): (("nomatch",), "\\W inside a class is the letter W"),
    ("a[\\S]b", "a-b"): (("nomatch",), "\\S inside a class is the letter S"),
    ("[\\b]", "ab"): (("match", ["b"]), "\\b inside a class is the letter b"),
    ("a\\Z", "a\n"): (("nomatch",), "\\Z is only the very end of the input"),
    ("(?m)a$", "a\r\nb"): (("match", ["a"]), "CR is a line separator too"),
    ("\\x{100}", "a"): (("error", 112), "one byte per character"),
}


def pcre_escape_subject(s):
    if s == "":
        return "\\"  # a lone backslash: an empty line would end the subjects
    out = []
    for ch in s:
        o = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif 33 <= o < 127:
            out.append(ch)
        else:
            out.append("\\x{%02x}" % o)
    return "".join(out)


def decode_pcre_output(text):
    out = []
    i = 0
    while i < len(text):
        m = re.match(r"\\x\{([0-9a-fA-F]+)\}|\\x([0-9a-fA-F]{2})", text[i:])
        if m:
            out.append(chr(int(m.group(1) or m.group(2), 16)))
            i += m.end()
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def run_pcre(pattern, subject):
    delim = next(d for d in "/!#%@~" if d not in pattern)
    script = "%s%s%sdotall,dollar_endonly\n    %s\n\n" % (delim, pattern, delim, pcre_escape_subject(subject))
    res = subprocess.run(["pcre2test", "-q"], input=script.encode("latin-1"), capture_output=True, check=False)
    lines = res.stdout.decode("latin-1").split("\n")
    if any(l.startswith("Failed:") for l in lines):
        return ("error", None)
    if any(l.strip() == "No match" for l in lines):
        return ("nomatch",)
    groups = {}
    for l in lines:
        m = re.match(r"^\s*(\d+): (.*)$", l)
        if m:
            n = int(m.group(1))
            groups[n] = None if m.group(2) == "<unset>" else decode_pcre_output(m.group(2))
    if not groups:
        raise SystemExit("cannot read pcre2test output for /%s/: %r" % (pattern, res.stdout))
    return ("match", [groups.get(i) for i in range(max(groups) + 1)])


def cxx(s):
    out = ['"']
    for ch in s:
        o = ord(ch)
        if ch in '"\\?' or o < 32 or o > 126:
            out.append("\\%03o" % o)
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    rows = []
    seen = set()
    for pattern, subject in CASES:
        if (pattern, subject) in seen:
            raise SystemExit("duplicate case /%s/ %r" % (pattern, subject))
        seen.add((pattern, subject))
        pcre = run_pcre(pattern, subject)
        note = "pcre2test"
        result = pcre
        if (pattern, subject) in OVERRIDES:
            result, why = OVERRIDES[(pattern, subject)]
            note = "dialect: " + why
        elif pcre[0] == "error":
            raise SystemExit("pcre2test rejects /%s/; add an override" % pattern)
        if result[0] == "match":
            groups = "{" + ", ".join("nullptr" if g is None else cxx(g) for g in result[1]) + "}"
            rows.append("    {%s, %s, 0, true, %s, %s}," % (cxx(pattern), cxx(subject), groups, cxx(note)))
        elif result[0] == "nomatch":
            rows.append("    {%s, %s, 0, false, {}, %s}," % (cxx(pattern), cxx(subject), cxx(note)))
        else:
            rows.append("    {%s, %s, %d, false, {}, %s}," % (cxx(pattern), cxx(subject), result[1], cxx(note)))
    with open(os.path.join(here, "RegExpPcreCases.inc"), "w") as f:
        f.write("// Generated by RegExpPcreCases.py from pcre2test output; do not edit.\n")
        f.write("// {pattern, subject, compile error, matched, groups (nullptr = unset), source}\n")
        f.write("\n".join(rows) + "\n")
    print("%d cases" % len(rows), file=sys.stderr)


if __name__ == "__main__":
    main()
