#!/usr/bin/python3
"""Import benchmark: a catalogue workbook of 7 columns and 10,000 / 60,000 rows,
imported by quillant-import-bench (excel2Access), by python3-xlrd reading the
same file and inserting into sqlite3 in one transaction, and by the sqlite3
shell's .import of the same rows as CSV (the floor for filling SQLite).

    bench/import/run_bench.py [PROGRAM_DIR] [--repeats N] [--rows 10000,60000]

Prints medians and rows per second. Each figure is the time of the work
itself: excel2Access as the program calls it (timed inside the benchmark
program), xlrd from opening the workbook to the commit, and the shell's wall
time less the median wall time of starting the shell on an empty database.

The program writes Data.mdb as a temporary file, without durability (the
SQLITE_SETTINGS below, as generator/import/excel2access.cpp sets them), so
both anchors get the same settings. A second table shows the anchors with
SQLite's default settings (a journal file, a sync at the commit), as this
benchmark measured them before.
"""
import argparse
import csv
import os
import random
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time

import xlwt

try:
    import xlrd
except ImportError:  # the anchor is optional: scripts/bootstrap --bench installs it
    xlrd = None

GROUPS = ['Pens', 'Paper', 'Ink & Toner', 'Büromöbel', '文房具', 'ノート', 'Café supplies', "Kid's corner"]
MAKERS = ['Acme', 'Nordwerk', '山田製作所', 'Papeterie Dupont', 'Kobe Trading']

# What excel2Access sets on a new Data.mdb before writing it.
SQLITE_SETTINGS = ['PRAGMA page_size=16384', 'PRAGMA journal_mode=MEMORY', 'PRAGMA synchronous=OFF']


def make_workbook(rows, xls, csv_path):
    random.seed(rows)
    wb = xlwt.Workbook(encoding='utf-8')
    ws = wb.add_sheet('Catalogue')
    titles = ['Code', 'Group', 'Name', 'Maker', 'Price', 'Flag', 'Description']
    data = [titles]
    for r in range(rows):
        data.append(['A%06d' % r, random.choice(GROUPS), 'Item %d %s' % (r, random.choice(['blue', 'red', '緑'])),
                     random.choice(MAKERS), random.randrange(100, 50000), random.choice([0, 1]),
                     'Description of item %d, quality goods' % r])
    for r, row in enumerate(data):
        for c, v in enumerate(row):
            ws.write(r, c, v)
    wb.save(xls)
    with open(csv_path, 'w', newline='', encoding='utf-8') as f:
        csv.writer(f).writerows(data)


def timed_process(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def timed_import(program, xls, db):
    out = subprocess.run([program, xls, db], check=True, capture_output=True, text=True).stdout
    seconds, rows = out.split()
    return float(seconds)


def xlrd_import(xls, db, settings=SQLITE_SETTINGS):
    if os.path.exists(db):
        os.remove(db)
    start = time.perf_counter()
    book = xlrd.open_workbook(xls)
    con = sqlite3.connect(db)
    for pragma in settings:
        con.execute(pragma)
    for n, sheet in enumerate(book.sheets(), 1):
        cols = max(sheet.ncols, 1)
        con.execute('CREATE TABLE SHEET%d (%s)' % (n, ', '.join('COL%d TEXT' % (i + 1) for i in range(cols))))
        sql = 'INSERT INTO SHEET%d VALUES (%s)' % (n, ','.join('?' * cols))
        con.executemany(sql, (sheet.row_values(r) for r in range(1, sheet.nrows)))
    con.commit()
    con.close()
    return time.perf_counter() - start


def shell_import(shell, db, csv_path, settings=SQLITE_SETTINGS):
    """The sqlite3 shell's .import into a new database; the same command
    without .import times the shell's start."""
    cmd = [shell, db] + settings + ['.mode csv']
    return timed_process(cmd + ['.import %s SHEET1' % csv_path]), timed_process(cmd)


def main():
    ap = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument('program_dir', nargs='?', default=os.path.join(here, '..', '..', 'build', 'bin'))
    ap.add_argument('--repeats', type=int, default=5)
    ap.add_argument('--rows', default='10000,60000')
    args = ap.parse_args()
    program = os.path.join(args.program_dir, 'quillant-import-bench')
    if not os.path.exists(program):
        sys.exit('build with -DQUILLANT_BUILD_BENCH=ON first: %s is missing' % program)
    sqlite_shell = shutil.which('sqlite3')

    work = tempfile.mkdtemp(prefix='quill-import-bench-')
    try:
        defaults = {}
        print('load average %.1f at the start' % os.getloadavg()[0])
        print('rows    quillant s  rows/s     xlrd s   rows/s     .import s  rows/s     vs xlrd  vs .import')
        for rows in [int(x) for x in args.rows.split(',')]:
            xls = os.path.join(work, 'Data%d.xls' % rows)
            csv_path = os.path.join(work, 'Data%d.csv' % rows)
            make_workbook(rows, xls, csv_path)
            ours, anchor, floor, start = [], [], [], []
            anchor_default, floor_default, start_default = [], [], []
            for i in range(args.repeats):  # interleaved, so that noise hits all alike
                ours.append(timed_import(program, xls, os.path.join(work, 'Data.mdb')))
                if xlrd:
                    anchor.append(xlrd_import(xls, os.path.join(work, 'xlrd.db')))
                    anchor_default.append(xlrd_import(xls, os.path.join(work, 'xlrd-default.db'), []))
                if sqlite_shell:
                    for settings, times, starts, name in ((SQLITE_SETTINGS, floor, start, 'csv'),
                                                         ([], floor_default, start_default, 'csv-default')):
                        t, s = shell_import(sqlite_shell, os.path.join(work, '%s%d.db' % (name, i)), csv_path,
                                            settings)
                        times.append(t)
                        starts.append(s)
                        os.remove(os.path.join(work, '%s%d.db' % (name, i)))
            q = statistics.median(ours)
            x = statistics.median(anchor) if anchor else float('nan')
            f = statistics.median(floor) - statistics.median(start) if floor else float('nan')
            print('%-7d %-11.4f %-10.0f %-8.4f %-10.0f %-10.4f %-10.0f %-8.2f %.2f' % (
                rows, q, rows / q, x, rows / x, f, rows / f, x / q, f / q))
            defaults[rows] = (q, statistics.median(anchor_default) if anchor_default else float('nan'),
                              statistics.median(floor_default) - statistics.median(start_default)
                              if floor_default else float('nan'))
        print('(anchors with the program\'s settings: %s; load average %.1f)' % (
            ', '.join(SQLITE_SETTINGS), os.getloadavg()[0]))
        print('\nAnchors with SQLite\'s default settings, as measured before (same runs):')
        print('rows    quillant s  xlrd s   .import s  vs xlrd  vs .import')
        for rows, (q, x, f) in defaults.items():
            print('%-7d %-11.4f %-8.4f %-10.4f %-8.2f %.2f' % (rows, q, x, f, x / q, f / q))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
