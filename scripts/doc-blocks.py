#!/usr/bin/env python3
"""Lists the blocks of the documents for scripts/doc-check.sh.

    scripts/doc-blocks.py OUT_FOLDER FILE...

FILE is a Markdown document (fenced blocks) or a manual page (the .nf/.fi blocks of its EXAMPLES
section). Each shell block (```sh, ```bash, ```shell; every example of a manual page) is written
to OUT_FOLDER/<n>.sh, each C++ listing (```c++, ```cpp) to OUT_FOLDER/<n>.cpp, and
OUT_FOLDER/blocks.tsv gets one line a block, tab-separated:

    n  kind  file:line  flavours  reason

kind is sh, cpp, not-run (the line before the fence says `<!-- doc-check: not run: REASON -->`,
in a manual page `.\\" doc-check: not run: REASON`) or other (output, diagrams, tables of
symbols: fenced without a language of the two). flavours are the ones the block names: qt4 when
it names Qt 4 (qt4dir, VRN3_QT4_DIR, a -qt4 package), else i386 when it names i386 or -m32 and
amd64 when it names amd64 or x86_64; "any" when it names none. An indented code block is an
error: every block is fenced, so that its language says whether it runs. Exit 1 on an error.
"""
import re
import sys

NOT_RUN_MD = re.compile(r'^<!-- doc-check: not run: (.+?) -->\s*$')
NOT_RUN_MAN = re.compile(r'^\.\\" doc-check: not run: (.+?)\s*$')
FENCE = re.compile(r'^(```+|~~~+)\s*([^\s`]*)')
SHELL = {'sh', 'bash', 'shell'}
CPP = {'c++', 'cpp', 'cxx'}
LIST_ITEM = re.compile(r'^\s*([-*+]|\d+\.)\s')
ROFF_ESCAPES = [('\\-', '-'), ('\\(aq', "'"), ('\\(dq', '"'), ('\\fB', ''), ('\\fI', ''),
                ('\\fR', ''), ('\\fP', ''), ('\\&', ''), ('\\e', '\\')]


def flavours(text):
    if re.search(r'qt4', text, re.IGNORECASE):
        return 'qt4'
    named = []
    if re.search(r'i386|-m32\b', text):
        named.append('i386')
    if re.search(r'amd64|x86_64', text):
        named.append('amd64')
    return ','.join(named) or 'any'


def markdown_blocks(path, lines):
    """Yields (line, language, text, reason) of each fenced block; raises on an indented one."""
    fence = None
    previous = ''
    last_text = ''
    for number, line in enumerate(lines, 1):
        if fence is None:
            match = FENCE.match(line)
            if match:
                fence, language, start, body = match.group(1), match.group(2).lower(), number, []
                reason = NOT_RUN_MD.match(previous)
                reason = reason.group(1) if reason else None
            elif (line.startswith('    ') or line.startswith('\t')) and line.strip() and not previous.strip() \
                    and last_text and not LIST_ITEM.match(last_text) and not last_text.startswith('  '):
                raise ValueError(f'{path}:{number}: an indented code block: fence it and name its language')
        elif line.startswith(fence) and not line.strip().strip(fence[0]):
            yield start, language, ''.join(body), reason
            fence = None
        else:
            body.append(line)
        if line.strip() and fence is None and not FENCE.match(line):
            last_text = line
        previous = line
    if fence is not None:
        raise ValueError(f'{path}:{start}: a fence that is never closed')


def man_blocks(path, lines):
    """Yields (line, 'sh', text, reason) of each .nf/.fi block of the EXAMPLES section."""
    section = ''
    start = None
    for number, line in enumerate(lines, 1):
        if line.startswith('.SH'):
            section = line[3:].strip().strip('"')
        elif section == 'EXAMPLES' and line.startswith('.nf'):
            start, body = number, []
            reason = NOT_RUN_MAN.match(lines[number - 2]) if number > 1 else None
            reason = reason.group(1) if reason else None
        elif start is not None and line.startswith('.fi'):
            yield start, 'sh', ''.join(body), reason
            start = None
        elif start is not None and not line.startswith('.'):
            for escape, text in ROFF_ESCAPES:
                line = line.replace(escape, text)
            body.append(line)


def main():
    out, files = sys.argv[1], sys.argv[2:]
    rows = []
    try:
        for path in files:
            with open(path, encoding='utf-8') as f:
                lines = f.readlines()
            blocks = man_blocks if re.search(r'\.[1-8]$', path) else markdown_blocks
            for line, language, text, reason in blocks(path, lines):
                kind = 'sh' if language in SHELL else 'cpp' if language in CPP else 'other'
                if reason is not None:
                    kind = 'not-run'
                n = len(rows) + 1
                if kind in ('sh', 'cpp'):
                    with open(f'{out}/{n}.{kind}', 'w', encoding='utf-8') as f:
                        f.write(text)
                rows.append(f'{n}\t{kind}\t{path}:{line}\t{flavours(text)}\t{reason or ""}\n')
    except ValueError as error:
        print(f'doc-check: {error}', file=sys.stderr)
        return 1
    with open(f'{out}/blocks.tsv', 'w', encoding='utf-8') as f:
        f.writelines(rows)
    return 0


if __name__ == '__main__':
    sys.exit(main())
