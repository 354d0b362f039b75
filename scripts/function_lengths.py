#!/usr/bin/env python3
"""Lists the functions of C++ sources longer than a limit (default 60 lines).

Usage: function_lengths.py [--limit N] [--all] FILE...

A function is a brace block whose opening line ends a signature (a ")" before
the "{", possibly followed by qualifiers) and that is not a control statement.
Its length counts the lines from the signature's first line to the closing
brace. Comments and string literals are blanked before braces are counted.
Exit status 1 when some function is over the limit.
"""
import re
import sys

CONTROL = re.compile(r'\b(if|for|while|switch|catch|do|else)\b\s*(\(|\{|$)')


def blank_comments_and_strings(text):
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i))
            i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(''.join(ch if ch == '\n' else ' ' for ch in text[i:j]))
            i = j
        elif c in '"\'':
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == '\\' else 1
            out.append(c + ' ' * (min(j, n) - i - 1) + (c if j < n else ''))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def blank_preprocessor_lines(text):
    # A directive such as "#define D_X (1 << 0)" ends in ")" and would read
    # as the signature of the next brace block.
    out, continued = [], False
    for line in text.split('\n'):
        directive = continued or line.lstrip().startswith('#')
        continued = directive and line.rstrip().endswith('\\')
        out.append(' ' * len(line) if directive else line)
    return '\n'.join(out)


def functions(path):
    text = blank_preprocessor_lines(
        blank_comments_and_strings(open(path, encoding='utf-8').read()))
    lines = text.split('\n')
    # Offsets of line starts, to turn positions into line numbers.
    starts, pos = [], 0
    for line in lines:
        starts.append(pos)
        pos += len(line) + 1

    def line_of(offset):
        lo, hi = 0, len(starts) - 1
        while lo < hi:
            mid = (lo + hi + 1) // 2
            if starts[mid] <= offset:
                lo = mid
            else:
                hi = mid - 1
        return lo + 1

    found = []
    stack = []  # (offset of "{", is_function, signature start line, name)
    for i, c in enumerate(text):
        if c == '{':
            # The text since the previous statement or block boundary.
            k = i - 1
            while k >= 0 and text[k] not in ';{}':
                k -= 1
            head = text[k + 1:i]
            flat = ' '.join(head.split())
            in_function = any(entry[1] for entry in stack)
            is_function = (not in_function and ')' in flat and not CONTROL.search(flat)
                           and not flat.startswith('=') and '=' not in flat.split('(')[0])
            first = k + 1
            while first < i and text[first].isspace():
                first += 1
            name = re.findall(r'([~\w:]+)\s*\(', flat)
            stack.append((i, is_function, line_of(first), name[0] if name else '?'))
        elif c == '}' and stack:
            _, is_function, start, name = stack.pop()
            if is_function:
                found.append((name, start, line_of(i) - start + 1))
    return found


def main(argv):
    limit, show_all, files = 60, False, []
    args = iter(argv)
    for arg in args:
        if arg == '--limit':
            limit = int(next(args))
        elif arg == '--all':
            show_all = True
        else:
            files.append(arg)
    over = False
    for path in files:
        for name, start, length in functions(path):
            if length > limit or show_all:
                print(f'{path}:{start}: {name} {length} lines')
            over = over or length > limit
    return 1 if over else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
