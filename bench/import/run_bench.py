#!/usr/bin/python3
"""Import benchmark: a catalogue workbook of 7 columns and 10,000 / 60,000 rows,
imported by quillant-import-bench (excel2Access), by python3-xlrd reading the
same file and inserting into sqlite3 in one transaction, and by the sqlite3
shell's .import of the same rows as CSV (the floor for filling SQLite).
Then the same catalogue as .xls, .xlsx, .ods and .csv, each imported by
quillant-import-bench, beside openpyxl in read-only mode (.xlsx) and the
shell's .import with the program's pragmas (.csv); and, when asked, the
peak memory of importing a large .xlsx.

    bench/import/run_bench.py [PROGRAM_DIR] [--repeats N] [--rows 10000,60000]
                              [--format-rows 60000] [--peak-rows 1000000]

Prints medians and rows per second. Each figure is the time of the work
itself: excel2Access as the program calls it (timed inside the benchmark
program), xlrd from opening the workbook to the commit, and the shell's wall
time less the median wall time of starting the shell on an empty database.

The program writes Data.mdb as a temporary file, without durability (the
SQLITE_SETTINGS below, as generator/import/excel2access.cpp sets them), and
makes two indexes for the page generators after the rows, so the anchors get
the same settings and make the same indexes. A second table shows the anchors with
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
import zipfile

import xlwt

try:
    import xlrd
except ImportError:  # the anchor is optional: scripts/bootstrap --bench installs it
    xlrd = None

GROUPS = ['Pens', 'Paper', 'Ink & Toner', 'Büromöbel', '文房具', 'ノート', 'Café supplies', "Kid's corner"]
MAKERS = ['Acme', 'Nordwerk', '山田製作所', 'Papeterie Dupont', 'Kobe Trading']

# What excel2Access sets on a new Data.mdb before writing it.
SQLITE_SETTINGS = ['PRAGMA page_size=16384', 'PRAGMA journal_mode=MEMORY', 'PRAGMA synchronous=OFF']
# The indexes excel2Access makes after the rows for the page generators'
# per-group queries (generator/pages/catalogue.cpp); the anchors with the
# program's settings make them too, so both sides do the same work.
CATALOGUE_INDEXES = ['CREATE INDEX quillant_sheet1_group_maker ON SHEET1(COL2, COL4)',
                     'CREATE INDEX quillant_sheet1_group_code ON SHEET1(COL2, COL1)']


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
    if settings == SQLITE_SETTINGS:
        for index in CATALOGUE_INDEXES:
            con.execute(index)
    con.commit()
    con.close()
    return time.perf_counter() - start


def shell_import(shell, db, csv_path, settings=SQLITE_SETTINGS):
    """The sqlite3 shell's .import into a new database; the same command
    without .import times the shell's start."""
    cmd = [shell, db] + settings + ['.mode csv']
    work = ['.import %s SHEET1' % csv_path]
    if settings == SQLITE_SETTINGS:  # the shell names the columns after the CSV's title row
        work += [i.replace('COL1', '"Code"').replace('COL2', '"Group"').replace('COL4', '"Maker"')
                 for i in CATALOGUE_INDEXES]
    return timed_process(cmd + work), timed_process(cmd)


# The workbook formats: the same catalogue as .xls, .xlsx, .ods and .csv.

def write_formats(xls, csv_path, base):
    """The catalogue of make_workbook (read back from its CSV) as .xlsx and .ods."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'designs', 'tools'))
    import openpyxl
    import workbook_formats
    with open(csv_path, newline='', encoding='utf-8') as f:
        data = [[int(v) if v.isdigit() else v for v in row] for row in csv.reader(f)]
    book = openpyxl.Workbook(write_only=True)
    sheet = book.create_sheet('Catalogue')
    for row in data:
        sheet.append(row)
    book.save(base + '.xlsx')
    workbook_formats.write(base + '.ods', [('Catalogue', data)])
    write_xlsx_shared_texts(data, base + '-shared.xlsx')
    return {'xls': xls, 'xlsx': base + '.xlsx', 'xlsx-shared': base + '-shared.xlsx', 'ods': base + '.ods',
            'csv': csv_path}


def write_xlsx_shared_texts(rows, path):
    """An .xlsx as spreadsheet programs write it: texts in the shared-text part,
    cells referring to them by number (openpyxl writes every text into its cell)."""
    from xml.sax.saxutils import escape
    texts = {}

    def letters(c):
        name = ''
        c += 1
        while c:
            c, r = divmod(c - 1, 26)
            name = chr(65 + r) + name
        return name

    ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
    rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
        with z.open('xl/worksheets/sheet1.xml', 'w') as f:
            f.write(('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<worksheet %s><sheetData>' % ns).encode())
            for r, row in enumerate(rows, 1):
                out = ['<row r="%d">' % r]
                for c, v in enumerate(row):
                    ref = '%s%d' % (letters(c), r)
                    if isinstance(v, str):
                        out.append('<c r="%s" t="s"><v>%d</v></c>' % (ref, texts.setdefault(v, len(texts))))
                    else:
                        out.append('<c r="%s"><v>%r</v></c>' % (ref, v))
                out.append('</row>')
                f.write(''.join(out).encode())
            f.write(b'</sheetData></worksheet>')
        with z.open('xl/sharedStrings.xml', 'w') as f:
            f.write(('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<sst %s count="%d" uniqueCount="%d">'
                     % (ns, len(texts), len(texts))).encode())
            for t in texts:
                f.write(('<si><t>%s</t></si>' % escape(t)).encode())
            f.write(b'</sst>')
        z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>')
        z.writestr('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                   '<Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % rel)
        z.writestr('xl/workbook.xml', '<workbook %s xmlns:r="%s"><sheets><sheet name="Catalogue" sheetId="1" r:id="rId1"/>'
                   '</sheets></workbook>' % (ns, rel))
        z.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/'
                   'relationships"><Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.xml"/>'
                   '<Relationship Id="rId2" Type="%s/sharedStrings" Target="sharedStrings.xml"/></Relationships>' % (rel, rel))


def openpyxl_import(xlsx, db):
    """openpyxl in read-only mode, from opening the workbook to the commit."""
    import openpyxl
    if os.path.exists(db):
        os.remove(db)
    start = time.perf_counter()
    book = openpyxl.load_workbook(xlsx, read_only=True)
    con = sqlite3.connect(db)
    con.execute('PRAGMA synchronous=OFF')
    con.execute('PRAGMA journal_mode=MEMORY')
    for n, sheet in enumerate(book.worksheets, 1):
        rows = sheet.iter_rows(values_only=True)
        titles = next(rows, ())
        cols = max(len(titles), 1)
        con.execute('CREATE TABLE SHEET%d (%s)' % (n, ', '.join('COL%d TEXT' % (i + 1) for i in range(cols))))
        con.executemany('INSERT INTO SHEET%d VALUES (%s)' % (n, ','.join('?' * cols)), rows)
    for index in CATALOGUE_INDEXES:
        con.execute(index)
    con.commit()
    con.close()
    book.close()
    return time.perf_counter() - start


def expat_floor(xlsx):
    """expat (through pyexpat, without handlers) over the package's XML parts,
    already unpacked: the least any reader built on expat can take."""
    import xml.parsers.expat
    with zipfile.ZipFile(xlsx) as z:
        parts = [z.read(n) for n in z.namelist() if n.endswith('.xml')]
    start = time.perf_counter()
    for data in parts:
        xml.parsers.expat.ParserCreate().Parse(data, True)
    return time.perf_counter() - start


def import_peak_kb(program, workbook, db):
    out = subprocess.run([program, workbook, db], check=True, capture_output=True, text=True)
    return int(out.stderr.split('peak_rss_kb')[1].split()[0])


def make_big_xlsx(rows, path):
    """A 7-column catalogue of many rows, with shared texts (three distinct texts a row)."""
    random.seed(rows)

    def catalogue():
        yield ['Code', 'Group', 'Name', 'Maker', 'Price', 'Flag', 'Description']
        for r in range(rows):
            yield ['A%07d' % r, random.choice(GROUPS), 'Item %d %s' % (r, random.choice(['blue', 'red', '緑'])),
                   random.choice(MAKERS), random.randrange(100, 50000), random.choice([0, 1]),
                   'Description of item %d, quality goods' % r]
    write_xlsx_shared_texts(catalogue(), path)


def format_bench(program, sqlite_shell, work, rows, repeats):
    xls = os.path.join(work, 'F%d.xls' % rows)
    csv_path = os.path.join(work, 'F%d.csv' % rows)
    make_workbook(rows, xls, csv_path)
    files = write_formats(xls, csv_path, os.path.join(work, 'F%d' % rows))
    ours = {f: [] for f in files}
    anchors = {'openpyxl': [], '.import': [], 'start': [], 'expat': [], 'expat-shared': []}
    for i in range(repeats):  # interleaved, so that noise hits all alike
        for f, path in files.items():
            ours[f].append(timed_import(program, path, os.path.join(work, 'Data.mdb')))
        anchors['openpyxl'].append(openpyxl_import(files['xlsx'], os.path.join(work, 'openpyxl.db')))
        anchors['expat'].append(expat_floor(files['xlsx']))
        anchors['expat-shared'].append(expat_floor(files['xlsx-shared']))
        if sqlite_shell:
            t, start = shell_import(sqlite_shell, os.path.join(work, 'eq%d.db' % i), csv_path)
            anchors['.import'].append(t)
            anchors['start'].append(start)
    med = {f: statistics.median(t) for f, t in ours.items()}
    opx = statistics.median(anchors['openpyxl'])
    imp = statistics.median(anchors['.import']) - statistics.median(anchors['start']) if sqlite_shell else float('nan')
    print('\nWorkbook formats, %d rows x 7 columns, medians of %d (seconds; rows/s)' % (rows, repeats))
    print('format  quillant s  rows/s     anchor                    anchor s  rows/s     anchor/quillant')
    print('%-7s %-11.4f %-10.0f' % ('xls', med['xls'], rows / med['xls']))
    print('%-7s %-11.4f %-10.0f %-25s %-9.4f %-10.0f %.2f' % ('xlsx', med['xlsx'], rows / med['xlsx'], 'openpyxl read-only', opx, rows / opx, opx / med['xlsx']))
    print('%-7s %-11.4f %-10.0f (shared texts, as spreadsheet programs write them)' % (
        'xlsx', med['xlsx-shared'], rows / med['xlsx-shared']))
    print('%-7s %-11.4f %-10.0f' % ('ods', med['ods'], rows / med['ods']))
    print('%-7s %-11.4f %-10.0f %-25s %-9.4f %-10.0f %.2f' % ('csv', med['csv'], rows / med['csv'], 'sqlite3 .import, same work', imp, rows / imp, imp / med['csv']))
    print('expat alone over the XML parts: %.4f s (inline texts), %.4f s (shared texts)' % (
        statistics.median(anchors['expat']), statistics.median(anchors['expat-shared'])))
    print('time / xls time: xlsx %.2f, xlsx with shared texts %.2f, ods %.2f, csv %.2f' % (
        med['xlsx'] / med['xls'], med['xlsx-shared'] / med['xls'], med['ods'] / med['xls'], med['csv'] / med['xls']))


def peak_bench(program, work, rows):
    big = os.path.join(work, 'Big%d.xlsx' % rows)
    make_big_xlsx(rows, big)
    tiny = os.path.join(work, 'Tiny.xlsx')
    make_big_xlsx(10, tiny)
    peak = import_peak_kb(program, big, os.path.join(work, 'Big.mdb'))
    base = import_peak_kb(program, tiny, os.path.join(work, 'Tiny.mdb'))
    print('\nPeak memory importing a %d-row .xlsx (%.0f MB on disk): %.1f MB (a 10-row .xlsx: %.1f MB)' % (
        rows, os.path.getsize(big) / 1e6, peak / 1024, base / 1024))


def main():
    ap = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument('program_dir', nargs='?', default=os.path.join(here, '..', '..', 'build', 'bin'))
    ap.add_argument('--repeats', type=int, default=5)
    ap.add_argument('--rows', default='10000,60000')
    ap.add_argument('--format-rows', type=int, default=60000, help='rows of the workbook-format comparison (0: none)')
    ap.add_argument('--peak-rows', type=int, default=0, help='rows of the .xlsx whose peak import memory is measured')
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
        print('(anchors with the program\'s settings: %s, and its two indexes; load average %.1f)' % (
            ', '.join(SQLITE_SETTINGS), os.getloadavg()[0]))
        print('\nAnchors with SQLite\'s default settings, as measured before (same runs):')
        print('rows    quillant s  xlrd s   .import s  vs xlrd  vs .import')
        for rows, (q, x, f) in defaults.items():
            print('%-7d %-11.4f %-8.4f %-10.4f %-8.2f %.2f' % (rows, q, x, f, x / q, f / q))
        if args.format_rows:
            format_bench(program, sqlite_shell, work, args.format_rows, args.repeats)
        if args.peak_rows:
            peak_bench(program, work, args.peak_rows)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
