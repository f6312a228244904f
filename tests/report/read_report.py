"""Reads an output of chantest-report back as a spreadsheet, a program or a browser would, and
prints what the tests check, as JSON. Usage: read_report.py csv|json|html FILE [SEPARATOR]"""
import csv
import json
import sys
from html.parser import HTMLParser

VOID = {"meta", "br", "hr", "img", "link", "input", "col", "wbr"}


class Page(HTMLParser):
    """Collects the tables cell by cell and checks that the page is well formed and stands alone."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack, self.errors, self.tables, self.title = [], [], [], ""
        self.cell = None
        self.in_title = False
        # The charts: each <svg> with its <title>; every id, to find one given twice.
        self.charts, self.ids, self.headings = [], [], []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "script" or tag in ("link", "img", "iframe", "object") or "src" in a or "href" in a:
            self.errors.append("outside reference or script: <%s>" % tag)
        if any(k.startswith("on") for k in a):
            self.errors.append("event handler on <%s>" % tag)
        if "id" in a:
            self.ids.append(a["id"])
        if tag == "svg":
            self.charts.append("")
        if tag == "title":
            self.in_title = True
        if tag == "h2":
            self.headings.append("")
        if tag == "table":
            self.tables.append({"class": a.get("class"), "rows": []})
        elif tag == "tr":
            self.tables[-1]["rows"].append([])
        elif tag in ("td", "th"):
            self.cell = {"text": "", "class": a.get("class"), "title": a.get("title")}
        if tag not in VOID:
            self.stack.append(tag)

    def handle_endtag(self, tag):
        if not self.stack or self.stack[-1] != tag:
            self.errors.append("unbalanced </%s> inside %s" % (tag, self.stack[-3:]))
            return
        self.stack.pop()
        if tag == "title":
            self.in_title = False
        if tag in ("td", "th"):
            self.tables[-1]["rows"][-1].append(self.cell)
            self.cell = None

    def handle_data(self, data):
        if self.in_title and "svg" in self.stack:
            self.charts[-1] += data
        elif self.in_title:
            self.title += data
        if self.stack and self.stack[-1] == "h2":
            self.headings[-1] += data
        if self.cell is not None:
            self.cell["text"] += data


def main(kind, path, sep=","):
    if kind == "csv":
        raw = open(path, "rb").read()
        with open(path, encoding="utf-8-sig", newline="") as f:
            rows = list(csv.reader(f, delimiter=sep, strict=True))
        out = {"bom": raw.startswith(b"\xef\xbb\xbf"),
               "crlf": raw.count(b"\r\n") == raw.count(b"\n") and raw.endswith(b"\r\n"), "rows": rows}
    elif kind == "json":
        with open(path, encoding="utf-8") as f:
            out = json.loads(f.read())
    else:
        p = Page()
        with open(path, encoding="utf-8") as f:
            p.feed(f.read())
        p.close()
        if p.stack:
            p.errors.append("unclosed %s" % p.stack)
        if len(set(p.ids)) != len(p.ids):
            p.errors.append("an id given twice")
        out = {"title": p.title, "errors": p.errors, "tables": p.tables, "charts": p.charts,
               "headings": p.headings}
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main(*sys.argv[1:])
