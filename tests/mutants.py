#!/usr/bin/env python3
"""Finds the places in C++ sources where tests/mutants.sh plants faults, and
plants one.

    mutants.py list FILE...                  one line per fault: NUMBER, FILE:LINE, what
    mutants.py plant NUMBER DIRECTORY FILE...  writes FILE with fault NUMBER
                                             planted as DIRECTORY's file of its name

The faults: a condition of an if or a while inverted, a comparison shifted
(< and <=, > and >=, == and != swapped), a boolean return flipped, and a
statement that is only a call deleted.  Comments, strings, characters and
preprocessor lines are never touched.  The places are found afresh from the
sources each time, so they follow the code as it changes; the same sources
always give the same numbers."""

import os
import re
import sys


def shadow(text):
    """The text with comments, literals and preprocessor lines blanked out,
    keeping every offset and line feed where it was."""
    out = list(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in ' \t':
            i += 1
            continue
        if line_start and c == '#':
            # A preprocessor line, with its continuations.
            while i < n and not (text[i] == '\n' and text[i - 1] != '\\'):
                out[i] = ' '
                i += 1
            continue
        line_start = c == '\n'
        if text.startswith('//', i):
            while i < n and text[i] != '\n':
                out[i] = ' '
                i += 1
        elif text.startswith('/*', i):
            end = text.index('*/', i) + 2
            for j in range(i, end):
                if text[j] != '\n':
                    out[j] = ' '
            i = end
        elif c in '"\'':
            j = i + 1
            while text[j] != c:
                j += 2 if text[j] == '\\' else 1
            for k in range(i + 1, j):
                out[k] = ' '
            i = j + 1
        else:
            i += 1
    return ''.join(out)


def closing(code, open_at):
    """The offset of the parenthesis that closes the one at `open_at`."""
    depth = 0
    for i in range(open_at, len(code)):
        if code[i] == '(':
            depth += 1
        elif code[i] == ')':
            depth -= 1
            if depth == 0:
                return i
    raise ValueError('unbalanced parentheses')


SHIFTED = {'<': '<=', '<=': '<', '>': '>=', '>=': '>', '==': '!=', '!=': '=='}
STATEMENT_WORDS = {'return', 'if', 'while', 'for', 'switch', 'case', 'sizeof', 'static_assert', 'delete',
                   'throw', 'else', 'do', 'using', 'typedef', 'goto'}


def faults(text):
    """Every fault for one file: (start, end, replacement), in file order."""
    code = shadow(text)
    found = []
    # == and != swapped in a condition that is nothing else would be the
    # condition inverted again.
    same_as_inverted = set()
    for m in re.finditer(r'\b(if|while) \(', code):
        open_at = m.end() - 1
        close_at = closing(code, open_at)
        found.append((open_at + 1, close_at, '!(' + text[open_at + 1:close_at] + ')'))
        condition = code[open_at + 1:close_at]
        equalities = list(re.finditer(r' (==|!=) ', condition))
        if len(equalities) == 1 and not re.search(r'&&|\|\||\?', condition):
            same_as_inverted.add(open_at + 1 + equalities[0].start(1))
    for m in re.finditer(r'(?<= )(<=|>=|==|!=|<|>)(?= )', code):
        if m.start() not in same_as_inverted:
            found.append((m.start(), m.end(), SHIFTED[m.group(1)]))
    for m in re.finditer(r'\breturn (true|false);', code):
        flipped = 'false' if m.group(1) == 'true' else 'true'
        found.append((m.start(), m.end(), 'return ' + flipped + ';'))
    # A statement of its own line that is a call and nothing else.
    for m in re.finditer(r'(?m)^[ \t]*((?:[A-Za-z_][\w:]*(?:\.|->))*([A-Za-z_][\w:]*))[ \t]*\(', code):
        if m.group(2) in STATEMENT_WORDS:
            continue
        close_at = closing(code, m.end() - 1)
        if code[close_at + 1:close_at + 2] != ';':
            continue
        found.append((m.start(1), close_at + 2, '(void)0;'))
    found.sort()
    return found


def all_faults(paths):
    for path in paths:
        with open(path) as f:
            text = f.read()
        for start, end, replacement in faults(text):
            yield path, text, start, end, replacement


def line_at(text, offset):
    start = text.rfind('\n', 0, offset) + 1
    end = text.find('\n', offset)
    return text[start:end if end >= 0 else len(text)]


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == 'list':
        for number, (path, text, start, end, replacement) in enumerate(all_faults(args), 1):
            line = text.count('\n', 0, start) + 1
            before = line_at(text, start).strip()
            mutated = text[:start] + replacement + text[end:]
            after = line_at(mutated, start).strip()
            print(f'{number}\t{path}:{line}\t{before}  ->  {after}')
    elif command == 'plant':
        wanted, directory = int(args[0]), args[1]
        for number, (path, text, start, end, replacement) in enumerate(all_faults(args[2:]), 1):
            if number == wanted:
                with open(os.path.join(directory, os.path.basename(path)), 'w') as f:
                    f.write(text[:start] + replacement + text[end:])
                return
        sys.exit(f'no fault number {wanted}')
    else:
        sys.exit(__doc__)


if __name__ == '__main__':
    main()
