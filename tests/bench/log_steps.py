#!/usr/bin/env python3
"""Where an install's time goes, from the timestamps of its install logs:
the time from each line to the next is put to the step the next line
reports, steps are grouped by their kind (every file extracted is one
group), and the median of each group over the logs is printed, largest
first, with the log's whole span.

    log_steps.py LOG...
"""
import re
import statistics
import sys
from datetime import datetime

LINE = re.compile(r'^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (.*)$')


def group(text):
    """The kind of step a log line reports."""
    rules = [
        (r'^entry ', 'extraction (each entry: inflate, digest, write)'),
        (r'^step ([^:]+):', None),
        (r'^(file|folder) ', 'file operations (paths, settings, modules)'),
        (r'^registry ', 'registry values'),
        (r'^(message|answer)', 'messages'),
    ]
    # A program started: named, since each start costs a process.
    m = re.match(r'^started "?([^"]*)', text)
    if m:
        return 'starting ' + re.split(r'[\\/]', m.group(1))[-1]
    for pattern, name in rules:
        m = re.match(pattern, text)
        if m:
            return name if name else 'step ' + m.group(1)
    return ' '.join(text.split()[:2])


def steps(path):
    times = {}
    last = first = None
    with open(path, encoding='utf-8', errors='replace') as f:
        for line in f:
            m = LINE.match(line.rstrip('\r\n'))
            if not m:
                continue
            at = datetime.strptime(m.group(1), '%Y-%m-%d %H:%M:%S.%f')
            if last is not None:
                key = group(m.group(2))
                times[key] = times.get(key, 0.0) + (at - last).total_seconds() * 1000
            else:
                first = at
            last = at
    times['(whole log)'] = (last - first).total_seconds() * 1000 if first else 0.0
    return times


def main():
    runs = [steps(p) for p in sys.argv[1:]]
    keys = {k for r in runs for k in r}
    medians = {k: statistics.median(r.get(k, 0.0) for r in runs) for k in keys}
    for key in sorted(keys, key=lambda k: -medians[k])[:14]:
        print('  %-52s %8.1f ms' % (key, medians[key]))


if __name__ == '__main__':
    main()
