#!/usr/bin/python3
"""Checks a design folder: project definition, scripts, template block structure,
then fills the templates with the sample workbook and checks every local link.

Usage: check_design.py DESIGN_FOLDER WORK_FOLDER TOOLS_FOLDER
"""
import os
import re
import subprocess
import sys

TAG = re.compile(r'<!--\s*MARL:HtmlPart((?:.|\n)*?)-->')
ATTR = re.compile(r'\s*(\w+)\s*=\s*"(.*?)"\s*')
VAR = re.compile(r'\{\w+?\}')
FTP = ["Ip", "Port", "User", "Password", "Account", "ServerPath", "TxtFile", "PassMode",
       "FirewallFlag", "FirewallType", "FirewallIP", "FirewallUser", "FirewallPassword"]
SCRIPTS = {"Subject.lua": "Quillant.clsSubject", "Index.lua": "Quillant.clsCodeIndex",
           "ItemList.lua": "Quillant.clsImgList", "Detail.lua": "Quillant.clsDetail"}
# block -> the block it must sit in; block -> a block it must hold
INSIDE = {"Link": "LetterGroup", "GroupLink": "LetterRow", "IndexLink": "IndexRow",
          "Item": "MakerItems", "COL6": "Item"}
HOLDS = {"LetterRow": "GroupLink", "IndexRow": "IndexLink"}

problems = []


def fail(msg):
    problems.append(msg)


def check_project(design):
    # A tag document: two header bytes, then UTF-16LE text.
    with open(os.path.join(design, "ProjectDef.prj"), "rb") as f:
        data = f.read()
    if data[:2] != b"\xff\xfe":
        fail("ProjectDef.prj: not built into a tag document (header bytes FF FE)")
    text = data[2:].decode("utf-16-le")
    if not text.startswith('<?xml version="1.0"?><'):
        fail("ProjectDef.prj: must start with the declaration, directly followed by the root")
    if re.search(r'>\s+<', text) or text != text.strip():
        fail("ProjectDef.prj: whitespace between tags would become element text")
    tags = re.findall(r'<(\w+)((?:\s+\w+="[^"<>]*")*)\s*/?>', text)
    attrs = [(name, dict(re.findall(r'(\w+)="([^"]*)"', rest))) for name, rest in tags]
    if not attrs or "Name" not in attrs[0][1]:
        fail("ProjectDef.prj: the root needs a Name")
    names = [n for n, _ in attrs]
    entries = [a for n, a in attrs[names.index("Scripts") + 1:names.index("Setup")]]
    if sorted(e.get("ScriptCode") for e in entries) != sorted(SCRIPTS):
        fail("ProjectDef.prj: one script entry per generator expected")
    for e in entries:
        if sorted(e) != sorted(["Selected", "ScriptCode", "Name", "TempHtml", "Desc"]):
            fail("ProjectDef.prj: script entry %s has attributes %s" % (e.get("ScriptCode"), sorted(e)))
        elif not os.path.isfile(os.path.normpath(os.path.join(design, "Html", e["TempHtml"]))):
            fail("ProjectDef.prj: TempHtml %s names no file under Html/" % e["TempHtml"])
    ftp = [a for n, a in attrs if n == "Ftp"]
    if len(ftp) != 1 or list(ftp[0]) != FTP:
        fail("ProjectDef.prj: Setup/Ftp must hold the thirteen upload attributes in order")


def check_scripts(design):
    for name, progid in SCRIPTS.items():
        with open(os.path.join(design, "Script", name), "rb") as f:
            data = f.read()
        text = data[3:].decode("utf-8")
        if not data.startswith(b"\xef\xbb\xbf"):
            fail("Script/%s: must begin with the UTF-8 byte-order mark" % name)
        for needed in ["function OutputFile(", 'CreateObject("%s")' % progid,
                       "DebugMsg = g.DebugMsg", "ErrMsg = g.ErrMsg"]:
            if needed not in text:
                fail("Script/%s: lacks %s" % (name, needed))


def check_template(path, root_vars_allowed):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    stack, pos = [], 0
    for m in TAG.finditer(text):
        if not stack and not root_vars_allowed and VAR.search(text[pos:m.start()]):
            fail("%s: placeholder outside every block gets no value" % path)
        pos = m.end()
        a = dict(ATTR.findall(m.group(1)))
        key, where = a.get("_KEY", ""), a.get("_POSITION")
        if where == "START":
            if key in INSIDE and INSIDE[key] not in [k for k, _ in stack]:
                fail("%s: %s outside %s" % (path, key, INSIDE[key]))
            stack.append((key, set()))
        elif where == "END":
            if not stack or stack[-1][0] != key:
                fail("%s: END of %s does not close the open block" % (path, key))
                return
            done, inner = stack.pop()
            if done in HOLDS and HOLDS[done] not in inner:
                fail("%s: %s holds no %s" % (path, done, HOLDS[done]))
            if stack:
                stack[-1][1].add(done)
    if stack:
        fail("%s: %s is never closed" % (path, stack[-1][0]))


def main():
    design, work, tools = sys.argv[1:4]
    check_project(design)
    check_scripts(design)
    check_template(os.path.join(design, "HtmlTemplate", "Subject.htm"), False)
    check_template(os.path.join(design, "HtmlTemplate", "Index.htm"), False)
    check_template(os.path.join(design, "HtmlTemplate", "Detail.htm"), False)
    check_template(os.path.join(design, "Html", "ItemList.htm"), True)
    for p in problems:
        print(p)
    preview = subprocess.run([sys.executable, os.path.join(tools, "preview_design.py"),
                              design, work])
    sys.exit(1 if problems or preview.returncode else 0)


if __name__ == "__main__":
    main()
