#!/usr/bin/python3
"""Whole-site benchmark: quillant --no-gui (import plus the four page generators)
on generated catalogues, beside two anchors measured in the same run:

  floor  quillant-floor-bench writing the same number of files of the same sizes
  hugo   Hugo building the same number of detail pages from content files with
         the sample design's detail layout (only up to --hugo-max items)

Usage: /usr/bin/python3 bench/site/run_bench.py [--bin build/bin] [--sizes 10000,50000,200000]
                                                [--reps 3] [--hugo-max 50000]
                                                [--work out/bench-site-STAMP] [--keep]

Each process is started through quillant-measure-run, which times it on the
monotonic clock and reports its own peak resident set (from wait4). Every size
first gets one cold run of each tool, shown but not counted; then --reps runs
in which the tools go back to back, each into a fresh folder. A run's folders
are deleted once it is measured and the work folder at the end, also after a
failure, unless --keep; every timing starts with a sync, so no earlier
writing or deleting is still under way. Prints medians and the ratios
against the floor.

A worksheet of an .xls workbook holds at most 65,535 items and the page
generators read only the first one (SHEET1), so a larger catalogue is given as
several worksheets of SHEET_ROWS items, and the project gets a first script
entry, Merge.lua, that appends the other sheets to SHEET1 through the scripts'
Database library, as a shop would do it. Its time is part of the run; the
time it reports itself (CPU time) is printed too. Needs python3-xlwt and hugo.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
GROUPS, MAKERS = 100, 10
SHEET_ROWS = 50000
WORDS = ["Apron", "Bowl", "Cleaver", "Dish", "Egg", "Funnel", "Grater", "Hook", "Iron", "Jar",
         "Kettle", "Ladle", "Mill", "Net", "Oven", "Pan", "Quern", "Rack", "Sieve", "Tray",
         "Urn", "Vessel", "Wok", "Xiphos", "Yarn", "Zester"]

MERGE_SCRIPT = """\
-- The page generators read the first worksheet (SHEET1) only: append the
-- items of every further worksheet to it before they run.
DebugMsg = ""
ErrMsg = ""

function OutputFile(folder)
  local db <close> = Database.open(folder .. "Data.mdb")
  local started = os.clock()
  local rows, sheet = 0, 2
  db:exec("BEGIN")
  while db:value("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?",
                 "SHEET" .. sheet) == 1 do
    rows = rows + db:exec("INSERT INTO SHEET1 SELECT * FROM SHEET" .. sheet)
    sheet = sheet + 1
  end
  db:exec("COMMIT")
  DebugMsg = string.format("merged %d rows from %d sheets in %.3f s", rows, sheet - 2, os.clock() - started)
end
"""
MERGE_ENTRY = ('<Script Selected="True" ScriptCode="Merge.lua" Name="Merge worksheets" TempHtml="" '
               'Desc="Appends the items of every further worksheet to the first"/>')


def group_name(g):
    return "%s ware %03d" % (WORDS[g % len(WORDS)], g)


def items(n):
    for i in range(n):
        g = i % GROUPS
        m = (i // GROUPS) % MAKERS
        flag = "NEW" if i % 7 == 0 else ("1" if i % 11 == 0 else "0")
        yield ("IT%06d" % i, group_name(g), "Item %d of the %s range" % (i, WORDS[g % 26]),
               "Maker %03d-%d" % (g, m), str(500 + i % 5000), flag,
               "A sturdy piece for everyday cooking, made to last; number %d." % i)


def sheets_needed(n):
    """One worksheet while it holds the catalogue, else sheets of SHEET_ROWS items."""
    return 1 if n <= 65535 else -(-n // SHEET_ROWS)


def make_workbook(path, n):
    book = xlwt.Workbook(encoding="utf-8")
    per_sheet = n if sheets_needed(n) == 1 else SHEET_ROWS
    sheet, r = None, 0
    for i, row in enumerate(items(n)):
        if i % per_sheet == 0:
            sheet = book.add_sheet("Items %d" % (i // per_sheet + 1))
            for c, title in enumerate(["Code", "Group", "Name", "Maker", "Price", "Flag", "Description"]):
                sheet.write(0, c, title)
            r = 1
        for c, value in enumerate(row):
            sheet.write(r, c, value)
        r += 1
    book.save(path)


def add_merge_entry(project, tagdoc):
    """Merge.lua as the project's first script entry, edited the way the README
    shows: tagdoc print, add a line, tagdoc build."""
    with open(os.path.join(project, "Script", "Merge.lua"), "w", encoding="utf-8-sig") as f:
        f.write(MERGE_SCRIPT)
    prj = os.path.join(project, "ProjectDef.prj")
    text = subprocess.run([tagdoc, "print", prj], check=True, capture_output=True, text=True).stdout
    if "<Scripts>" not in text:
        sys.exit("unexpected project definition: no <Scripts> in %s" % prj)
    edited = os.path.join(project, "ProjectDef.txt")
    with open(edited, "w", encoding="utf-8") as f:
        f.write(text.replace("<Scripts>", "<Scripts>" + MERGE_ENTRY, 1))
    subprocess.run([tagdoc, "build", edited, prj], check=True)
    os.remove(edited)


class Run:
    """One process, started through quillant-measure-run: wall time on the
    monotonic clock, its own peak resident set in MB, and its output."""

    measurer = None  # the path of quillant-measure-run

    def __init__(self, cmd):
        os.sync()  # earlier runs' dirty pages are not written back during this one
        with tempfile.TemporaryDirectory() as tmp:
            figures, out = os.path.join(tmp, "figures"), os.path.join(tmp, "output")
            with open(out, "wb") as f:
                done = subprocess.run([Run.measurer, figures] + cmd, stdout=f, stderr=subprocess.STDOUT)
            with open(out, encoding="utf-8", errors="replace") as f:
                self.output = f.read()
            if done.returncode != 0:
                sys.exit("failed (%d): %s\n%s" % (done.returncode, " ".join(cmd), self.output[-2000:]))
            with open(figures) as f:
                seconds, peak_kb = f.read().split()
        self.seconds = float(seconds)
        self.peak_mb = int(peak_kb) / 1024


def hugo_site(folder, design, n):
    """A Hugo site with one content file per item and the detail layout."""
    os.makedirs(os.path.join(folder, "layouts", "_default"))
    os.makedirs(os.path.join(folder, "content", "detail"))
    with open(os.path.join(folder, "config.toml"), "w") as f:
        f.write('baseURL = "/"\nuglyURLs = true\n'
                'disableKinds = ["taxonomy", "term", "RSS", "sitemap", "robotsTXT", "404", "home", "section"]\n')
    with open(os.path.join(design, "HtmlTemplate", "Detail.htm"), encoding="utf-8") as f:
        layout = f.read()

    def block(m):
        key, body = m.group(1), m.group(2)
        if key in ("PrevItemLink", "NextItemLink"):
            p = "prev" if key == "PrevItemLink" else "next"
            body = body.replace("{Code}", "{%scode}" % p).replace("{CodeFile}", "{%sfile}" % p)
            return "{{ with $.Params.%scode }}%s{{ end }}" % (p, body)
        return body

    # Innermost blocks first: a block's text holds no other block's start.
    inner = re.compile(r'<!-- MARL:HtmlPart _KEY="(\w+)" _POSITION="START" -->'
                       r'((?:(?!_POSITION="START").)*?)'
                       r'<!-- MARL:HtmlPart _KEY="\1" _POSITION="END" -->', re.S)
    while inner.search(layout):
        layout = inner.sub(block, layout)
    layout = re.sub(r"\{(\w+)\}", lambda m: "{{ $.Params.%s }}" % m.group(1).lower(), layout)
    with open(os.path.join(folder, "layouts", "_default", "single.html"), "w", encoding="utf-8") as f:
        f.write(layout)
    rows = list(items(n))
    by_group = {}
    for row in rows:
        by_group.setdefault(row[1], []).append(row)
    numbers = {g: i for i, g in enumerate(sorted(by_group), 1)}
    for g, group_rows in by_group.items():
        group_rows.sort(key=lambda r: r[0])
        for i, row in enumerate(group_rows):
            prev = group_rows[i - 1][0] if i else ""
            nxt = group_rows[i + 1][0] if i + 1 < len(group_rows) else ""
            params = {"col%d" % (c + 1): v for c, v in enumerate(row)}
            params.update(code=row[0], codefile="Detail_%s.html" % row[0], groupname=g,
                          groupfile="%s.htm" % g, groupnum=str(numbers[g]), groupletter=row[0][:1],
                          letter2=row[0][1:2].upper(), prevcode=prev, prevfile="Detail_%s.html" % prev,
                          nextcode=nxt, nextfile="Detail_%s.html" % nxt)
            with open(os.path.join(folder, "content", "detail", "Detail_%s.md" % row[0]), "w",
                      encoding="utf-8") as f:
                f.write("---\ntitle: %s\n" % row[0])
                for k, v in params.items():
                    f.write('%s: "%s"\n' % (k, v.replace('"', '\\"')))
                f.write("---\n")


def remove_folders(folders, threads=8):
    """Deletes folders with several threads: on a disk where each unlink
    waits (about 1,000 files a second on an ext4 mounted with discard), that
    is several times faster than one thread."""
    files = [os.path.join(d, f) for folder in folders for d, _, names in os.walk(folder) for f in names]

    def unlink_every(k):
        for path in files[k::threads]:
            try:
                os.unlink(path)
            except OSError:
                pass

    with ThreadPoolExecutor(threads) as pool:
        list(pool.map(unlink_every, range(threads)))
    for folder in folders:
        shutil.rmtree(folder, ignore_errors=True)


def count_files(folder):
    return sum(len(files) for _, _, files in os.walk(folder))


def measure_once(n, base, design, tools, label, keep):
    """Runs quillant, the floor and (when built) Hugo back to back on one
    catalogue; returns their figures."""
    fig = {}
    project = os.path.join(base, "run-%s" % label)
    shutil.copytree(design, project)
    shutil.copy(os.path.join(base, "Data.xls"), os.path.join(project, "Data.xls"))
    if sheets_needed(n) > 1:
        add_merge_entry(project, tools["tagdoc"])
    run = Run([tools["quillant"], "--no-gui", os.path.join(project, "ProjectDef.prj")])
    out = os.path.join(project, "Output")
    pages = [os.path.getsize(os.path.join(out, f)) for f in os.listdir(out) if f.endswith(".htm")]
    fig.update(q=run.seconds, qrss=run.peak_mb, pages=len(pages))
    merged = re.search(r"merged (\d+) rows from (\d+) sheets in ([\d.]+) s", run.output)
    if merged:
        fig["merge"] = float(merged.group(3))
    sizes_file = os.path.join(base, "sizes-%s.txt" % label)
    with open(sizes_file, "w") as f:
        f.write("\n".join(map(str, pages)) + "\n")
    floor_dir = os.path.join(base, "floor-%s" % label)
    os.makedirs(floor_dir)
    fig["floor"] = Run([tools["floor"], sizes_file, floor_dir]).seconds
    hugo_src = os.path.join(base, "hugo")
    public = os.path.join(base, "public-%s" % label)
    if os.path.isdir(hugo_src):
        run = Run(["hugo", "--quiet", "--source", hugo_src, "--destination", public,
                   "--cacheDir", os.path.join(base, "hugocache-%s" % label)])
        fig.update(hugo=run.seconds, hrss=run.peak_mb, hugo_files=count_files(public))
    if not keep:  # the next run's sync waits for the deleting to end
        remove_folders([project, floor_dir, public, os.path.join(base, "hugocache-%s" % label)])
    return fig


def describe(n, label, fig):
    line = "n=%d %s: quillant %.3f s, %.1f MB (%d pages), floor %.3f s" % (
        n, label, fig["q"], fig["qrss"], fig["pages"], fig["floor"])
    if "merge" in fig:
        line += ", merge script %.3f s CPU" % fig["merge"]
    if "hugo" in fig:
        line += ", hugo %.3f s, %.0f MB (%d files)" % (fig["hugo"], fig["hrss"], fig["hugo_files"])
    return line + "; load average %.1f" % os.getloadavg()[0]


def report(sizes, results, reps):
    med = statistics.median
    col = lambda n, key: [f[key] for f in results[n] if key in f]
    print("\nmedians of %d runs (the cold first run is not counted)" % reps)
    print("%8s %7s %6s %10s %9s %8s %8s %9s %9s %8s %12s %11s" % (
        "items", "pages", "sheets", "quillant s", "pages/s", "peak MB", "max MB", "floor s", "hugo s",
        "hugo MB", "quill/floor", "hugo/floor"))
    for n in sizes:
        q, fl, pages = med(col(n, "q")), med(col(n, "floor")), results[n][-1]["pages"]
        h = med(col(n, "hugo")) if col(n, "hugo") else float("nan")
        hm = med(col(n, "hrss")) if col(n, "hrss") else float("nan")
        print("%8d %7d %6d %10.3f %9.0f %8.1f %8.1f %9.3f %9.3f %8.0f %12.2f %11.2f" % (
            n, pages, sheets_needed(n), q, pages / q, med(col(n, "qrss")), max(col(n, "qrss")), fl, h, hm,
            q / fl, h / fl))
    # The machines are shared: a ratio taken within each run (quillant and the
    # floor measured back to back) is steadier than a ratio of medians.
    for n in sizes:
        q_ratios = [f["q"] / f["floor"] for f in results[n]]
        line = "%d items, per-run ratios to the floor: quillant %s (median %.2f)" % (
            n, " ".join("%.2f" % x for x in q_ratios), med(q_ratios))
        h_ratios = [f["hugo"] / f["floor"] for f in results[n] if "hugo" in f]
        if h_ratios:
            line += ", hugo %s (median %.2f)" % (" ".join("%.2f" % x for x in h_ratios), med(h_ratios))
        if col(n, "merge"):
            line += "; merge script median %.3f s CPU" % med(col(n, "merge"))
        print(line)
    for a, b in zip(sizes, sizes[1:]):
        line = "scaling %d -> %d items (x%.1f): quillant x%.2f, peak memory x%.2f, floor x%.2f" % (
            a, b, b / a, med(col(b, "q")) / med(col(a, "q")), med(col(b, "qrss")) / med(col(a, "qrss")),
            med(col(b, "floor")) / med(col(a, "floor")))
        if col(a, "hugo") and col(b, "hugo"):
            line += ", hugo x%.2f" % (med(col(b, "hugo")) / med(col(a, "hugo")))
        print(line)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    ap.add_argument("--sizes", default="10000,50000,200000")
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--hugo-max", type=int, default=50000, help="largest catalogue Hugo builds")
    ap.add_argument("--work", default=os.path.join(ROOT, "out", "bench-site-%d" % int(time.time())))
    ap.add_argument("--keep", action="store_true", help="keep the work folder and every run's output")
    args = ap.parse_args()
    tools = {"quillant": os.path.join(args.bin, "quillant"), "floor": os.path.join(args.bin, "quillant-floor-bench"),
             "tagdoc": os.path.join(args.bin, "tagdoc")}
    Run.measurer = os.path.join(args.bin, "quillant-measure-run")
    design = os.path.join(args.bin, "HtmlDesign", "Standard", "Modern")
    sizes = [int(s) for s in args.sizes.split(",")]
    use_hugo = shutil.which("hugo") is not None
    os.makedirs(args.work)
    try:
        for n in sizes:
            base = os.path.join(args.work, "n%d" % n)
            os.makedirs(base)
            make_workbook(os.path.join(base, "Data.xls"), n)
            if use_hugo and n <= args.hugo_max:
                hugo_site(os.path.join(base, "hugo"), design, n)
        print("catalogues prepared in %s; load average %.1f on %d cores" % (
            args.work, os.getloadavg()[0], os.cpu_count()), flush=True)

        results = {n: [] for n in sizes}
        for n in sizes:
            print(describe(n, "cold run, not counted",
                           measure_once(n, os.path.join(args.work, "n%d" % n), design, tools, "cold", args.keep)),
                  flush=True)
        for rep in range(args.reps):
            for n in sizes:
                fig = measure_once(n, os.path.join(args.work, "n%d" % n), design, tools, str(rep + 1), args.keep)
                results[n].append(fig)
                print(describe(n, "run %d" % (rep + 1), fig), flush=True)
        report(sizes, results, args.reps)
    finally:
        if args.keep:
            print("work folder kept: %s" % args.work)
        else:
            remove_folders([args.work])


if __name__ == "__main__":
    main()
