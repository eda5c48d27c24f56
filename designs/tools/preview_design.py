#!/usr/bin/python3
"""Fills a design's templates with its sample workbook, without building the program.

Usage: /usr/bin/python3 designs/tools/preview_design.py DESIGN_FOLDER OUT_FOLDER

Writes Subject.htm, Index.htm, one page per group and one Detail_<code>.htm per
item into OUT_FOLDER (plus the design's Output/ files such as style.css), walking
the templates the way the page generators do, then checks that every local link
of the pages resolves to a file. A quick look at a template change before a
real run; the program's own output is what counts. Needs python3-xlrd.
"""
import html.parser
import os
import re
import shutil
import sys
import urllib.parse

import xlrd

TAG = re.compile(r'<!--\s*MARL:(\w+)((?:.|\n)*?)-->')
ATTR = re.compile(r'\s*(\w+)\s*=\s*"(.*?)"\s*')
VAR = re.compile(r'\{(\w+?)\}')


class Part:
    def __init__(self, key):
        self.key, self.children, self.values = key, [], {}

    def text(self, s):
        return VAR.sub(lambda m: self.values.get(m.group(1), ""), s)


def parse(path):
    with open(path, encoding="utf-8-sig") as f:
        src = f.read()
    root = Part("")
    stack = [root]
    pos = 0
    for m in TAG.finditer(src):
        if m.start() > pos:
            stack[-1].children.append(src[pos:m.start()])
        pos = m.end()
        if m.group(1) != "HtmlPart":
            continue
        attrs = dict(ATTR.findall(m.group(2).replace("\r\n", "")))
        key, where = attrs.get("_KEY", ""), attrs.get("_POSITION")
        if where == "START":
            part = Part(key)
            stack[-1].children.append(part)
            stack.append(part)
        elif where == "END" and key == stack[-1].key and len(stack) > 1:
            stack.pop()
    if len(stack) != 1:
        sys.exit("%s: block %s has no END tag" % (path, stack[-1].key))
    if pos < len(src):
        root.children.append(src[pos:])
    return root


def write(part, out, handle):
    """Writes the text of part; each inner block goes to handle(block, out)."""
    for child in part.children:
        if isinstance(child, str):
            out.append(part.text(child))
        else:
            handle(child, out)


def cell(value):
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


def load(workbook):
    sheet = xlrd.open_workbook(workbook).sheet_by_index(0)
    rows = []
    for r in range(1, sheet.nrows):
        rows.append({"COL%d" % (c + 1): cell(sheet.cell_value(r, c)) for c in range(sheet.ncols)})
    return rows


def page_file(name):
    return urllib.parse.quote(name)


def letter_id(letter):
    return "L" + "-".join("%X" % ord(ch) for ch in letter)


def save(folder, name, parts):
    with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
        f.write("".join(parts))


def subject(design, out, rows):
    groups = sorted({r["COL2"] for r in rows})
    number = {g: n for n, g in enumerate(groups, 1)}
    letters = {}
    for g in groups:
        letters.setdefault(g[:1], []).append(g)
    state = {}

    def handle(part, buf):
        part.values = {}
        if part.key == "LetterLink":
            for letter in letters:
                part.values = {"Letter": letter, "LetterId": letter_id(letter)}
                write(part, buf, handle)
        elif part.key == "Link":
            part.values = {"Letter": state["letter"], "LetterId": letter_id(state["letter"])}
            write(part, buf, handle)
        elif part.key == "LetterGroup":
            for letter, names in letters.items():
                state.update(letter=letter, names=names, pos=0)
                part.values = {"Letter": letter, "LetterId": letter_id(letter)}
                write(part, buf, handle)
        elif part.key == "LetterRow":
            while state["pos"] < len(state["names"]):
                write(part, buf, handle)
        elif part.key == "GroupLink":
            if state["pos"] < len(state["names"]):
                g = state["names"][state["pos"]]
                part.values = {"GroupName": g, "GroupNum": str(number[g]),
                               "GroupFile": page_file(g + ".htm")}
                write(part, buf, handle)
                state["pos"] += 1
        else:
            write(part, buf, handle)

    buf = []
    write(parse(os.path.join(design, "HtmlTemplate", "Subject.htm")), buf, handle)
    save(out, "Subject.htm", buf)


def index(design, out, rows):
    codes = iter(sorted(r["COL1"] for r in rows))
    state = {"next": next(codes, None)}

    def handle(part, buf):
        part.values = {}
        if part.key == "IndexLink":
            code = state["next"]
            if code is not None:
                up = code.upper()
                part.values = {"Letter1": up[0:1], "Letter2": up[1:2], "Letter3": up[2:3],
                               "Code": code, "CodeFile": page_file("Detail_" + code + ".htm")}
                write(part, buf, handle)
                state["next"] = next(codes, None)
        elif part.key == "IndexRow":
            while state["next"] is not None:
                write(part, buf, handle)
        else:
            write(part, buf, handle)

    buf = []
    write(parse(os.path.join(design, "HtmlTemplate", "Index.htm")), buf, handle)
    save(out, "Index.htm", buf)


def item_lists(design, out, rows):
    root = parse(os.path.join(design, "Html", "ItemList.htm"))
    groups = sorted({r["COL2"] for r in rows})
    state = {}

    def handle(part, buf):
        if part.key == "COL6":
            flag = state["item"]["COL6"]
            if flag not in ("0", ""):
                part.values = {"COL6": flag}
                write(part, buf, handle)
            return
        part.values = {}
        if part.key in ("MakerList", "MakerItems"):
            for n, maker in enumerate(state["makers"], 1):
                state["maker"] = maker
                part.values = {"COL4": maker, "MakerId": "maker%d" % n}
                write(part, buf, handle)
        elif part.key == "Item":
            for item in rows:
                if item["COL2"] == state["group"] and item["COL4"] == state["maker"]:
                    state["item"] = item
                    part.values = dict(item, CodeFile=page_file("Detail_" + item["COL1"] + ".htm"))
                    write(part, buf, handle)
        else:
            write(part, buf, handle)

    for n, group in enumerate(groups, 1):
        state.update(group=group,
                     makers=sorted({r["COL4"] for r in rows if r["COL2"] == group}))
        root.values = {"GroupName": group, "GroupNum": str(n),
                       "GroupFile": page_file(group + ".htm")}
        buf = []
        write(root, buf, handle)
        save(out, group + ".htm", buf)


def details(design, out, rows):
    root = parse(os.path.join(design, "HtmlTemplate", "Detail.htm"))
    groups = sorted({r["COL2"] for r in rows})
    state = {}

    def handle(part, buf):
        part.values = {}
        item = state["item"]
        if part.key == "Detail":
            up = item["COL1"].upper()
            part.values = dict(item, GroupLetter=up[0:1], Letter1=up[0:1], Letter2=up[1:2],
                               Letter3=up[2:3], Code=item["COL1"],
                               CodeFile=page_file("Detail_" + item["COL1"] + ".htm"),
                               GroupName=state["group"],
                               GroupFile=page_file(state["group"] + ".htm"))
        elif part.key == "ReturnLink":
            part.values = {"GroupNum": str(state["num"]), "GroupName": state["group"],
                           "GroupFile": page_file(state["group"] + ".htm")}
        elif part.key in ("PrevItemLink", "NextItemLink"):
            code = state["prev" if part.key == "PrevItemLink" else "next"]
            if not code:
                return
            part.values = {"Code": code, "CodeFile": page_file("Detail_" + code + ".htm")}
        write(part, buf, handle)

    for n, group in enumerate(groups, 1):
        items = sorted((r for r in rows if r["COL2"] == group), key=lambda r: r["COL1"])
        for i, item in enumerate(items):
            state.update(group=group, num=n, item=item,
                         prev=items[i - 1]["COL1"] if i else "",
                         next=items[i + 1]["COL1"] if i + 1 < len(items) else "")
            buf = []
            write(root, buf, handle)
            save(out, "Detail_" + item["COL1"] + ".htm", buf)


class Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.links, self.ids = [], set()

    def handle_starttag(self, tag, attrs):
        for name, value in attrs:
            if name in ("href", "src") and value:
                self.links.append(value)
            if name == "id":
                self.ids.add(value)


def check_links(out):
    pages, bad = {}, []
    for name in os.listdir(out):
        if name.endswith(".htm"):
            p = Links()
            with open(os.path.join(out, name), encoding="utf-8") as f:
                p.feed(f.read())
            pages[name] = p
    for name, p in pages.items():
        for link in p.links:
            url = urllib.parse.urlsplit(link)
            if url.scheme or url.netloc:
                bad.append((name, link, "not a local link"))
                continue
            target = urllib.parse.unquote(url.path) or name
            if not os.path.isfile(os.path.join(out, target)):
                bad.append((name, link, "no such file"))
            elif url.fragment and target in pages and url.fragment not in pages[target].ids:
                bad.append((name, link, "no such anchor"))
    return len(pages), bad


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    design, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(os.path.join(design, "Output")):
        if not name.startswith("."):
            shutil.copy(os.path.join(design, "Output", name), out)
    rows = load(os.path.join(design, "Data.xls"))
    subject(design, out, rows)
    index(design, out, rows)
    item_lists(design, out, rows)
    details(design, out, rows)
    count, bad = check_links(out)
    for page, link, why in bad:
        print("%s: %s (%s)" % (page, link, why))
    print("%d pages in %s, %d broken links" % (count, out, len(bad)))
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
