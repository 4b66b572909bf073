#!/usr/bin/env python3
"""Seed candidates for the fuzz targets from the test suites' string literals.

Usage: fuzz/extract_seeds.py OUT
Writes OUT/<target>/<sha1> for each target: every string literal of tests/simhost, tests/library
and tests/hvcfg (adjacent literals joined, escapes resolved, as UTF-8), for wql also as the WHERE
clause of `select * from C where`, for cimxml also inside an instance element. Reduce them into the
corpus with `build/fuzz/bin/fuzz_<target> -merge=1 -use_counters=0 fuzz/corpus/<target> OUT/<target>`.
"""
import hashlib
import pathlib
import re
import sys

TOKEN = re.compile(
    r'(?P<raw>(?:L|u8)?R"(?P<d>[^(\s]*)\((?P<rb>.*?)\)(?P=d)")'
    r'|(?P<str>(?:L|u8)?"(?P<sb>(?:[^"\\\n]|\\.)*)")'
    r'|(?P<gap>\s+|//[^\n]*)|(?P<other>.)', re.S)
SIMPLE = {'n': '\n', 't': '\t', 'r': '\r', '\\': '\\', '"': '"', "'": "'", '0': '\0', 'a': '\a', '?': '?'}


def unescape(s):
    out, i = [], 0
    while i < len(s):
        if s[i] != '\\':
            out.append(s[i])
            i += 1
            continue
        n = s[i + 1]
        if n in SIMPLE:
            out.append(SIMPLE[n])
            i += 2
        elif n == 'x':
            j = i + 2
            while j < len(s) and s[j] in '0123456789abcdefABCDEF':
                j += 1
            out.append(chr(int(s[i + 2:j], 16)))
            i = j
        elif n in 'uU':
            width = 4 if n == 'u' else 8
            out.append(chr(int(s[i + 2:i + 2 + width], 16)))
            i += 2 + width
        else:
            out.append(n)
            i += 2
    return ''.join(out)


def literals(text):
    current = None
    for m in TOKEN.finditer(text):
        if m.group('raw') is not None:
            piece = m.group('rb')
        elif m.group('str') is not None:
            piece = unescape(m.group('sb'))
        elif m.group('gap') is not None:
            continue
        else:
            if current is not None:
                yield current
            current = None
            continue
        current = piece if current is None else current + piece
    if current is not None:
        yield current


def main():
    out = pathlib.Path(sys.argv[1])
    root = pathlib.Path(__file__).resolve().parent.parent
    wrap = {
        'wql': [b'', b'select * from C where '],
        'object_path': [b''],
        'cimxml': [b'', b'<INSTANCE CLASSNAME="Msvm_SyntheticEthernetPortSettingData">'],
        'host_file': [b''],
    }
    sources = sorted(p for d in ('simhost', 'library', 'hvcfg') for p in (root / 'tests' / d).glob('*.cpp'))
    for source in sources:
        for text in literals(source.read_text(encoding='utf-8')):
            data = text.encode('utf-8', 'surrogatepass')
            for target, prefixes in wrap.items():
                (out / target).mkdir(parents=True, exist_ok=True)
                for prefix in prefixes:
                    suffix = b'</INSTANCE>' if prefix.startswith(b'<INSTANCE') else b''
                    seed = prefix + data + suffix
                    (out / target / hashlib.sha1(seed).hexdigest()).write_bytes(seed)


if __name__ == '__main__':
    main()
