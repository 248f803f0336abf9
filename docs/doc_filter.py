#!/usr/bin/env python3
"""Doxygen input filter for the public headers: turns their plain comments into documentation.

A block of '//' lines before a declaration documents it ('///'); a '//' comment after a
declaration on its line documents that declaration ('///<'); the comment at the top of a header
documents the file. No line is added or removed, so warnings name the header's real lines.
"""
import re
import sys

LEAD = re.compile(r'^(\s*)//(?!/)(.*)$')
TRAIL = re.compile(r'^(\s*[^\s/#].*?)\s+//(?!/)\s?(.*)$')


def Text(comment: str) -> str:
    """A comment's text with '<' and '>' escaped: '<dir>/<name>' is a placeholder, not markup."""
    return comment.replace('<', '&lt;').replace('>', '&gt;')


def main() -> None:
    with open(sys.argv[1], encoding='utf-8', errors='replace') as f:
        lines = f.read().split('\n')
    out = []
    top = True  # still in the header's leading comment
    for line in lines:
        lead = LEAD.match(line)
        if lead:
            out.append(lead.group(1) + '///' + Text(lead.group(2)))
            continue
        if top:
            top = False
            if out and out[-1].lstrip().startswith('///'):
                out[-1] += ' @file'
        trail = TRAIL.match(line)
        # A string literal may hold "//"; such lines are left alone.
        if trail and '"' not in trail.group(1):
            out.append(trail.group(1) + ' ///< ' + Text(trail.group(2)))
            continue
        out.append(line)
    sys.stdout.write('\n'.join(out))


if __name__ == '__main__':
    main()
