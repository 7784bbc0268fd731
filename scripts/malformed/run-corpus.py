#!/usr/bin/env python3
"""Plays every damaged movie of a corpus (make-corpus.py) through the filter
with kestrel-play under Wine and prints a table by outcome.

    run-corpus.py [--subset] [--timeout S] [--jobs N] [--list] [--reasons] CORPUS BIN

CORPUS holds corpus.txt; BIN holds kestrel-play.exe and the engine. Wine's
prefix is WINEPREFIX (a persistent wineserver makes each run start fast).
--subset plays only the files corpus.txt marks for the tests.

A file passes when Load answers a status (exit 1 with "status"), a pin
refuses to connect (exit 1 with "connect"), no stream plays for a reason
(exit 1 with "reason_code"), or the streams end with
EC_COMPLETE (exit 0) or EC_ERRORABORT (exit 3), and every object of the
filter is gone at the end ("released": true). It fails on a crash (any other
exit code, or no JSON), a hang (no end within the time limit), a leak, or a
file that does not play without a reason ("reason_code").
With --reasons a second table gives, for each kind of damage, the reasons
kestrel-play gave ("reason_code") and one file of each with its line.
Exit status: 0 every file passed, 1 some failed (or an undamaged source does
not play), 2 usage.
"""
import argparse
import concurrent.futures
import json
import os
import signal
import subprocess
import sys
import time

WINE = '/usr/lib/wine/wine64'
FAILURES = ('crash', 'hang', 'leak', 'no reason')
# Undamaged sources of the corpus (beside it) that must play to the end
# first: a filter that cannot be created would otherwise refuse every file.
REFERENCES = ('malformed_av.mov', 'malformed_pcm.mov')


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def play(exe, env, path, timeout):
    """(outcome, detail, seconds, reason_code, reason) of one file."""
    outcome, detail, seconds, report = run_one(exe, env, path, timeout)
    report = report or {}
    return outcome, detail, seconds, report.get('reason_code'), report.get('reason')


def run_one(exe, env, path, timeout):
    """(outcome, detail, seconds, report) of one file."""
    command = [WINE, exe, '--json', '--timeout', str(timeout), windows_path(path)]
    started = time.monotonic()
    # kestrel-play ends itself 30 s after its time limit; the runner waits a
    # little longer before it ends the process group.
    proc = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, start_new_session=True)
    try:
        out, err = proc.communicate(timeout=timeout + 45)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        return 'hang', 'no exit', time.monotonic() - started, None
    seconds = time.monotonic() - started
    report = None
    for line in out.decode('utf-8', 'replace').splitlines():
        if line.startswith('{'):
            try:
                report = json.loads(line)
            except ValueError:
                pass
    code = proc.returncode
    stderr = err.decode('utf-8', 'replace').strip().splitlines()
    last = stderr[-1] if stderr else ''
    if report is None:
        if code == 3 and 'giving up' in last:
            return 'hang', 'ended by its watchdog', seconds, report
        return 'crash', 'exit %d, no report: %s' % (code, last), seconds, report
    if code not in (0, 1, 3):
        return 'crash', 'exit %d' % code, seconds, report
    if report.get('result') == 'timeout':
        return 'hang', 'no end within %s s' % timeout, seconds, report
    if report.get('released') is not True:
        return 'leak', 'objects of the filter left alive', seconds, report
    status = report.get('status')
    if code == 1 and not report.get('reason_code'):
        return 'no reason', 'exit 1 without "reason_code"', seconds, report
    if code == 1 and status != 'S_OK':
        return 'load: %s' % status, '', seconds, report
    if code == 1 and 'connect' in report:
        return 'connect: %s' % report['connect'], '', seconds, report
    if code == 1 and report.get('reason_code'):
        return 'nothing plays', '', seconds, report
    result = report.get('result')
    if code == 0 and result == 'EC_COMPLETE':
        return 'EC_COMPLETE', '', seconds, report
    if code == 3 and result == 'EC_ERRORABORT':
        return 'EC_ERRORABORT', '', seconds, report
    return 'crash', 'exit %d, result %s' % (code, result), seconds, report


def print_reasons(results):
    """Per kind of damage: how many files got each reason code, and the
    first file (by name) of each code with its line."""
    print()
    print('%-16s %-18s %6s  %s' % ('kind of damage', 'reason_code', 'files', 'first file: its line'))
    for kind in sorted({r[0] for r in results.values()}):
        codes = {}
        for name, r in sorted(results.items()):
            if r[0] == kind:
                codes.setdefault(r[4] or 'null', []).append((name, r[5]))
        for code, files in sorted(codes.items()):
            name, reason = files[0]
            print('%-16s %-18s %6d  %s: %s' % (kind, code, len(files), name, reason or '(plays whole)'))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--subset', action='store_true', help='only the files marked for the tests')
    parser.add_argument('--timeout', type=float, default=20, help="kestrel-play's time limit per file (s)")
    parser.add_argument('--jobs', type=int, default=1)
    parser.add_argument('--list', action='store_true', help='a line per file as well')
    parser.add_argument('--reasons', action='store_true', help='the reasons given, by kind of damage')
    parser.add_argument('corpus')
    parser.add_argument('bin')
    args = parser.parse_args()

    entries = []
    with open(os.path.join(args.corpus, 'corpus.txt')) as f:
        for line in f:
            name, kind, subset = line.split()
            if subset == '1' or not args.subset:
                entries.append((name, kind))
    if 'WINEPREFIX' not in os.environ:
        sys.exit('run-corpus.py: WINEPREFIX is not set')
    env = dict(os.environ, WINEDEBUG='-all')
    exe = os.path.join(args.bin, 'kestrel-play.exe')

    for name in REFERENCES:
        outcome, detail = play(exe, env, os.path.join(args.corpus, os.pardir, name), args.timeout)[:2]
        if outcome != 'EC_COMPLETE':
            print('run-corpus.py: the undamaged %s does not play (%s %s)' % (name, outcome, detail))
            return 1

    results = {}
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(args.jobs, 1)) as pool:
        futures = {pool.submit(play, exe, env, os.path.join(args.corpus, name), args.timeout): (name, kind)
                   for name, kind in entries}
        for future in concurrent.futures.as_completed(futures):
            name, kind = futures[future]
            results[name] = (kind,) + future.result()
            if args.list:
                outcome, detail, seconds, code = results[name][1:5]
                print('%-70s %-24s %-18s %6.2f s %s' % (name, outcome, code, seconds, detail), flush=True)
    elapsed = time.monotonic() - started

    # A row per outcome: how many files ended so, and of which kinds.
    outcomes = sorted({r[1] for r in results.values()}, key=lambda o: (o in FAILURES, o))
    width = max([len(o) for o in outcomes] + [len('outcome')])
    print('%-*s %6s  %s' % (width, 'outcome', 'files', 'kinds of damage'))
    for outcome in outcomes:
        row = [r for r in results.values() if r[1] == outcome]
        kinds = {}
        for r in row:
            kinds[r[0]] = kinds.get(r[0], 0) + 1
        print('%-*s %6d  %s' % (width, outcome, len(row), ', '.join('%s %d' % k for k in sorted(kinds.items()))))
    print('%-*s %6d' % (width, 'all', len(results)))
    slowest = max(results.items(), key=lambda item: item[1][3]) if results else None
    print('%d files in %.0f s%s' % (len(results), elapsed,
                                   '; slowest %s %.1f s' % (slowest[0], slowest[1][3]) if slowest else ''))
    if args.reasons:
        print_reasons(results)
    failed = sorted((name, r) for name, r in results.items() if r[1] in FAILURES)
    for name, (kind, outcome, detail, seconds, _, _) in failed:
        print('FAILED %s: %s (%s)' % (name, outcome, detail))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
