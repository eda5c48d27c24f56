#!/usr/bin/python3
"""Whole-site benchmark: quillant --no-gui (import plus the four page generators)
on generated catalogues, beside two anchors measured in the same run:

  floor  quillant-floor-bench writing the same number of files of the same sizes
  hugo   Hugo building the same number of detail pages from content files with
         the sample design's detail layout

Usage: /usr/bin/python3 bench/site/run_bench.py [--bin build/bin] [--sizes 10000,50000]
                                                [--reps 3] [--work out/bench-site-STAMP]

Every measurement writes into a fresh folder (nothing is deleted before a timing;
the work folder is removed at the end unless --keep). Prints medians of --reps runs
and the ratios against the floor. Needs python3-xlwt and hugo.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
GROUPS, MAKERS = 100, 10
WORDS = ["Apron", "Bowl", "Cleaver", "Dish", "Egg", "Funnel", "Grater", "Hook", "Iron", "Jar",
         "Kettle", "Ladle", "Mill", "Net", "Oven", "Pan", "Quern", "Rack", "Sieve", "Tray",
         "Urn", "Vessel", "Wok", "Xiphos", "Yarn", "Zester"]


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


def make_workbook(path, n):
    if n > 65535:
        sys.exit("xlwt writes at most 65,536 rows a sheet")
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Items")
    for c, title in enumerate(["Code", "Group", "Name", "Maker", "Price", "Flag", "Description"]):
        sheet.write(0, c, title)
    for r, row in enumerate(items(n), 1):
        for c, value in enumerate(row):
            sheet.write(r, c, value)
    book.save(path)


def timed(cmd, **kw):
    """Runs cmd under /usr/bin/time -v; returns (seconds, peak RSS in MB)."""
    os.sync()  # earlier runs' dirty pages are not written back during this one
    t = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True, **kw)
    if t.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (t.returncode, " ".join(cmd), t.stderr[-2000:]))
    wall = re.search(r"Elapsed \(wall clock\) time.*: (?:(\d+):)?(\d+):([\d.]+)", t.stderr)
    h, m, s = wall.groups()
    seconds = int(h or 0) * 3600 + int(m) * 60 + float(s)
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", t.stderr).group(1)) / 1024
    return seconds, rss


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


def count_files(folder):
    return sum(len(files) for _, _, files in os.walk(folder))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", default=os.path.join(ROOT, "build", "bin"))
    ap.add_argument("--sizes", default="10000,50000")
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--work", default=os.path.join(ROOT, "out", "bench-site-%d" % int(time.time())))
    ap.add_argument("--keep", action="store_true")
    args = ap.parse_args()
    quillant = os.path.join(args.bin, "quillant")
    floor = os.path.join(args.bin, "quillant-floor-bench")
    design = os.path.join(args.bin, "HtmlDesign", "Standard", "Modern")
    sizes = [int(s) for s in args.sizes.split(",")]
    os.makedirs(args.work)

    prepared = {}
    for n in sizes:
        base = os.path.join(args.work, "n%d" % n)
        os.makedirs(base)
        make_workbook(os.path.join(base, "Data.xls"), n)
        hugo_site(os.path.join(base, "hugo"), design, n)
        prepared[n] = base
    print("catalogues and Hugo sites prepared in %s" % args.work, flush=True)

    results = {n: {"q": [], "qrss": [], "floor": [], "hugo": [], "hrss": [], "pages": 0} for n in sizes}
    for rep in range(args.reps):
        for n in sizes:
            base, r = prepared[n], results[n]
            project = os.path.join(base, "run%d" % rep)
            shutil.copytree(design, project)
            shutil.copy(os.path.join(base, "Data.xls"), os.path.join(project, "Data.xls"))
            s, rss = timed([quillant, "--no-gui", os.path.join(project, "ProjectDef.prj")])
            out = os.path.join(project, "Output")
            pages = [os.path.getsize(os.path.join(out, f)) for f in os.listdir(out) if f.endswith(".htm")]
            r["q"].append(s)
            r["qrss"].append(rss)
            r["pages"] = len(pages)
            sizes_file = os.path.join(base, "sizes%d.txt" % rep)
            with open(sizes_file, "w") as f:
                f.write("\n".join(map(str, pages)) + "\n")
            floor_dir = os.path.join(base, "floor%d" % rep)
            os.makedirs(floor_dir)
            r["floor"].append(timed([floor, sizes_file, floor_dir])[0])
            s, rss = timed(["hugo", "--quiet", "--source", os.path.join(base, "hugo"),
                            "--destination", os.path.join(base, "public%d" % rep),
                            "--cacheDir", os.path.join(base, "hugocache%d" % rep)])
            r["hugo"].append(s)
            r["hrss"].append(rss)
            built = count_files(os.path.join(base, "public%d" % rep))
            print("n=%d rep %d: quillant %.3f s (%d pages), floor %.3f s, hugo %.3f s (%d files)"
                  % (n, rep + 1, r["q"][-1], len(pages), r["floor"][-1], s, built), flush=True)

    med = statistics.median
    print("\nmedians of %d runs" % args.reps)
    print("%8s %7s %10s %9s %9s %9s %9s %10s %12s %11s" % ("items", "pages", "quillant s", "pages/s",
          "peak MB", "floor s", "hugo s", "hugo MB", "quill/floor", "hugo/floor"))
    for n in sizes:
        r = results[n]
        q, fl, h = med(r["q"]), med(r["floor"]), med(r["hugo"])
        print("%8d %7d %10.3f %9.0f %9.1f %9.3f %9.3f %10.1f %12.2f %11.2f" % (
            n, r["pages"], q, r["pages"] / q, max(r["qrss"]), fl, h, med(r["hrss"]), q / fl, h / fl))
    # The machines are shared: a ratio taken within each run (quillant and the
    # floor measured back to back) is steadier than a ratio of medians.
    for n in sizes:
        r = results[n]
        q_ratios = [q / f for q, f in zip(r["q"], r["floor"])]
        h_ratios = [h / f for h, f in zip(r["hugo"], r["floor"])]
        print("%d items, per-run ratios to the floor: quillant %s (median %.2f), hugo %s (median %.2f)" % (
            n, " ".join("%.2f" % x for x in q_ratios), med(q_ratios),
            " ".join("%.2f" % x for x in h_ratios), med(h_ratios)))
    if len(sizes) == 2:
        a, b = sizes
        print("scaling %d -> %d items (x%.1f): quillant x%.2f, floor x%.2f, hugo x%.2f" % (
            a, b, b / a, med(results[b]["q"]) / med(results[a]["q"]),
            med(results[b]["floor"]) / med(results[a]["floor"]),
            med(results[b]["hugo"]) / med(results[a]["hugo"])))
    if not args.keep:
        shutil.rmtree(args.work)


if __name__ == "__main__":
    main()
