#!/usr/bin/python3
"""Writes a catalogue as a workbook in each format that Quillant imports.

    import workbook_formats
    workbook_formats.write("Data.xlsx", [("Catalogue", rows)], date1904=False)

The format follows the file name: .xls (python3-xlwt), .xlsx (python3-openpyxl),
.ods (written directly with zipfile) or .csv (UTF-8, the texts the import makes
of the other formats' values). rows is a list of lists; a value is None (empty
cell), str, bool, int, float, Percent, datetime.date, datetime.datetime or
datetime.time. Multi-sheet workbooks keep their order; a .csv holds the first
sheet only.
"""
import csv
import datetime
import os
import zipfile
from xml.sax.saxutils import escape, quoteattr


class Percent(float):
    """A number shown as a percentage (format 0%)."""


DATE, DATETIME, TIME, PERCENT = "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss", "hh:mm:ss", "0%"


def _number_format(value):
    if isinstance(value, Percent):
        return PERCENT
    if isinstance(value, datetime.datetime):
        return DATETIME
    if isinstance(value, datetime.date):
        return DATE
    if isinstance(value, datetime.time):
        return TIME
    return None


def write_xls(path, sheets, date1904):
    import xlwt
    book = xlwt.Workbook(encoding="utf-8")
    book.dates_1904 = date1904
    styles = {}
    for name, rows in sheets:
        sheet = book.add_sheet(name)
        for r, row in enumerate(rows):
            for c, value in enumerate(row):
                if value is None:
                    continue
                fmt = _number_format(value)
                if fmt:
                    style = styles.setdefault(fmt, xlwt.easyxf(num_format_str=fmt))
                    sheet.write(r, c, float(value) if fmt == PERCENT else value, style)
                else:
                    sheet.write(r, c, value)
    book.save(path)


def write_xlsx(path, sheets, date1904):
    import openpyxl
    from openpyxl.utils.datetime import CALENDAR_MAC_1904
    book = openpyxl.Workbook()
    book.remove(book.active)
    if date1904:
        book.epoch = CALENDAR_MAC_1904
    for name, rows in sheets:
        sheet = book.create_sheet(name)
        for r, row in enumerate(rows, start=1):
            for c, value in enumerate(row, start=1):
                if value is None:
                    continue
                cell = sheet.cell(row=r, column=c, value=float(value) if isinstance(value, Percent) else value)
                fmt = _number_format(value)
                if fmt:
                    cell.number_format = fmt
    book.save(path)


def _ods_paragraphs(text):
    """A text as <text:p> elements: one per line, runs of blanks and tabs spelled out."""
    out = []
    for line in text.split("\n"):
        p, i = [], 0
        while i < len(line):
            ch = line[i]
            if ch == "\t":
                p.append("<text:tab/>")
                i += 1
            elif ch == " ":
                j = i
                while j < len(line) and line[j] == " ":
                    j += 1
                n = j - i
                # One blank between words stays as it is; others are counted.
                if n == 1 and 0 < i and j < len(line):
                    p.append(" ")
                else:
                    p.append('<text:s text:c="%d"/>' % n)
                i = j
            else:
                j = i
                while j < len(line) and line[j] not in " \t":
                    j += 1
                p.append(escape(line[i:j]))
                i = j
        out.append("<text:p>%s</text:p>" % "".join(p))
    return "".join(out)


def _ods_cell(value):
    if value is None:
        return "<table:table-cell/>"
    if isinstance(value, bool):
        return ('<table:table-cell office:value-type="boolean" office:boolean-value="%s"><text:p>%s</text:p>'
                "</table:table-cell>" % (str(value).lower(), str(value).upper()))
    if isinstance(value, Percent):
        return ('<table:table-cell office:value-type="percentage" office:value="%r"><text:p>%d%%</text:p>'
                "</table:table-cell>" % (float(value), round(value * 100)))
    if isinstance(value, (int, float)):
        return ('<table:table-cell office:value-type="float" office:value="%r"><text:p>%s</text:p>'
                "</table:table-cell>" % (value, value))
    if isinstance(value, datetime.datetime):
        return ('<table:table-cell office:value-type="date" office:date-value="%s"><text:p>%s</text:p>'
                "</table:table-cell>" % (value.isoformat(), value))
    if isinstance(value, datetime.date):
        return ('<table:table-cell office:value-type="date" office:date-value="%s"><text:p>%s</text:p>'
                "</table:table-cell>" % (value.isoformat(), value))
    if isinstance(value, datetime.time):
        return ('<table:table-cell office:value-type="time" office:time-value="PT%02dH%02dM%02dS"><text:p>%s'
                "</text:p></table:table-cell>" % (value.hour, value.minute, value.second, value))
    return '<table:table-cell office:value-type="string">%s</table:table-cell>' % _ods_paragraphs(value)


ODS_NAMESPACES = (
    'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
    'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
    'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
    'office:version="1.2"')


def ods_content(tables_xml):
    """content.xml around the given <table:table> elements."""
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content %s><office:body>'
            "<office:spreadsheet>%s</office:spreadsheet></office:body></office:document-content>"
            % (ODS_NAMESPACES, tables_xml))


def write_ods_package(path, content_xml):
    with zipfile.ZipFile(path, "w") as z:
        # The mimetype comes first and unpacked, as the format asks.
        z.writestr("mimetype", "application/vnd.oasis.opendocument.spreadsheet", zipfile.ZIP_STORED)
        z.writestr("content.xml", content_xml, zipfile.ZIP_DEFLATED)
        z.writestr("META-INF/manifest.xml",
                   '<?xml version="1.0" encoding="UTF-8"?>\n<manifest:manifest '
                   'xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
                   '<manifest:file-entry manifest:full-path="/" '
                   'manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>'
                   '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>'
                   "</manifest:manifest>", zipfile.ZIP_DEFLATED)


def write_ods(path, sheets, date1904):
    # OpenDocument dates are calendar dates: there is no date system to choose.
    tables = []
    for name, rows in sheets:
        body = "".join("<table:table-row>%s</table:table-row>" % "".join(_ods_cell(v) for v in row) for row in rows)
        tables.append("<table:table table:name=%s>%s</table:table>" % (quoteattr(name), body))
    write_ods_package(path, ods_content("".join(tables)))


def cell_text(value):
    """The text the import makes of a value."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    if isinstance(value, (int, float)):
        if float(value) == int(value) and abs(value) < 1e15:
            return str(int(value))
        return format(float(value), ".15G")
    if isinstance(value, datetime.datetime):
        return value.strftime("%Y-%m-%d" if value.time() == datetime.time() else "%Y-%m-%d %H:%M:%S")
    if isinstance(value, datetime.date):
        return value.strftime("%Y-%m-%d")
    if isinstance(value, datetime.time):
        return value.strftime("%H:%M:%S")
    return value


def write_csv(path, sheets, date1904):
    with open(path, "w", newline="", encoding="utf-8") as f:
        csv.writer(f).writerows([cell_text(v) for v in row] for row in sheets[0][1])


def write(path, sheets, date1904=False):
    writer = {".xls": write_xls, ".xlsx": write_xlsx, ".ods": write_ods, ".csv": write_csv}
    writer[os.path.splitext(path)[1].lower()](path, sheets, date1904)
