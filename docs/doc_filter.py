#!/usr/bin/env python3
"""Doxygen input filter for the public headers: turns their plain comments into documentation.

- A block of '//' lines documents what follows it ('///'). When several declarations follow the
  block with no blank line or comment between them, the block documents each of them (they are
  made one member group, whose documentation doxygen hands to every member).
- A '//' comment after a declaration on its line documents that declaration ('///<').
- The comment at the top of a header documents the file.
- '<' and '>' in comments are text ('<dir>/<name>' is a placeholder, not markup).
No line is added or removed, so warnings name the header's real lines.
"""
import re
import sys

LEAD = re.compile(r'^(\s*)//(?!/)(.*)$')
TRAIL = re.compile(r'^(\s*[^\s/#].*?)\s+//(?!/)\s?(.*)$')
STOP = re.compile(r'^\s*(public:|private:|protected:|};|}\s*//|#|$)')


def Text(comment: str) -> str:
    return comment.replace('<', '&lt;').replace('>', '&gt;')


def main() -> None:
    with open(sys.argv[1], encoding='utf-8', errors='replace') as f:
        lines = f.read().split('\n')
    out = []
    top = True  # still in the header's leading comment
    i = 0
    while i < len(lines):
        line = lines[i]
        lead = LEAD.match(line)
        if lead:
            out.append(lead.group(1) + '///' + Text(lead.group(2)))
            i += 1
            continue
        if top:
            top = False
            if out and out[-1].lstrip().startswith('///'):
                out[-1] += ' @file'
        documented = bool(out) and out[-1].lstrip().startswith('///')
        if documented and not STOP.match(line):
            # The run of declarations the comment block stands over.
            j = i
            while j + 1 < len(lines) and not STOP.match(lines[j + 1]) and not LEAD.match(lines[j + 1]) \
                    and not TRAIL.match(lines[j + 1]):
                j += 1
            run = lines[i:j + 1]
            declarations = sum(1 for l in run if re.search(r'[;{}]\s*$', l) and not l.startswith(' ' * 8))
            if len(run) > 1 and declarations > 1:
                indent = len(line) - len(line.lstrip())
                run[0] = line[:indent] + '/**@{*/ ' + line[indent:]
                run[-1] = run[-1] + ' /**@}*/'
            out.extend(run)
            i = j + 1
            continue
        trail = TRAIL.match(line)
        # A string literal may hold "//"; such lines are left alone.
        if trail and '"' not in trail.group(1):
            out.append(trail.group(1) + ' ///< ' + Text(trail.group(2)))
            i += 1
            continue
        out.append(line)
        i += 1
    sys.stdout.write('\n'.join(out))


if __name__ == '__main__':
    main()
