#!/usr/bin/env python3
"""Peer for the folvane benchmark: the same pass written with pypdf.

peer_pypdf.py <folder> <report.pdf> <cols> <rows>

Renames each receipt after the date, time and amount in its text, lists the folder again,
reads every receipt a second time and places its pages, 95 % of a cell and centred, on A4 pages
with merge_transformed_page, then writes the report. Prints the number of output pages.
"""
import os
import re
import sys

from pypdf import PageObject, PdfReader, PdfWriter, Transformation

DATE_WRITTEN = re.compile(r"(\d{4}\s*年\s*\d{1,2}\s*月\s*\d{1,2}\s*日)")
DATE_NUMERIC = re.compile(r"(\d{4}[/-]\d{1,2}[/-]\d{1,2})")
TIME_ON_LINE = re.compile(r"((?:上午|下午|AM|PM)?\s*\d{1,2}:\d{2}(?:\s*(?:AM|PM))?)")
TOTAL = re.compile(r"總計\s*[\$NT\$￥]*\s*([\d,]+(?:\.\d{1,2})?)")
DIGITS = re.compile(r"\d+")


def receipt_info(path):
    reader = PdfReader(path)
    text = "\n".join(page.extract_text() or "" for page in reader.pages)
    date = time = total = None
    for line in text.splitlines():
        m = DATE_WRITTEN.search(line) or DATE_NUMERIC.search(line)
        if m:
            date = m.group(1).strip()
            t = TIME_ON_LINE.search(line[m.end():])
            time = t.group(1).strip() if t else None
            break
    m = TOTAL.search(text)
    if m:
        total = m.group(1).strip()
    return date, time, total


def standard_name(date, time, total):
    mmdd = hhmm = "0000"
    if date:
        parts = DIGITS.findall(date)
        if len(parts) >= 3:
            mmdd = "%02d%02d" % (int(parts[1]), int(parts[2]))
    if time:
        h, m = (int(x) for x in DIGITS.findall(time)[:2])
        if "下午" in time and h < 12:
            h += 12
        if "上午" in time and h == 12:
            h = 0
        hhmm = "%02d%02d" % (h, m)
    amount = (total or "0").replace(",", "")
    return "receipt_%s_%s_%s.pdf" % (mmdd, hhmm, amount.replace(".", "_"))


def pdfs(folder, report_name):
    names = sorted(n for n in os.listdir(folder)
                   if n.lower().endswith(".pdf") and n != report_name)
    return [os.path.join(folder, n) for n in names]


def main():
    folder, report, cols, rows = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    report_name = os.path.basename(report)
    for path in pdfs(folder, report_name):
        target = os.path.join(folder, standard_name(*receipt_info(path)))
        if target != path and not os.path.exists(target):
            os.rename(path, target)

    width, height, margin = 595, 842, 20
    cell_w, cell_h = (width - 2 * margin) / cols, (height - 2 * margin) / rows
    per_page = cols * rows
    writer = PdfWriter()
    current, index = None, 0
    for path in pdfs(folder, report_name):
        receipt_info(path)
        for page in PdfReader(path).pages:
            if index % per_page == 0:
                if current is not None:
                    writer.add_page(current)
                current, index = PageObject.create_blank_page(width=width, height=height), 0
            col, row = index % cols, index // cols
            x, y = margin + col * cell_w, height - margin - (row + 1) * cell_h
            rot = page.get("/Rotate", 0)
            box = page.cropbox
            w0, h0 = float(box.width), float(box.height)
            src_w, src_h = (h0, w0) if rot in (90, 270) else (w0, h0)
            scale = min(cell_w / src_w, cell_h / src_h) * 0.95
            tx = x + (cell_w - src_w * scale) / 2
            ty = y + (cell_h - src_h * scale) / 2
            op = Transformation().translate(tx=-float(box.left), ty=-float(box.bottom))
            if rot == 90:
                op = op.rotate(-90).translate(tx=0, ty=src_h)
            elif rot == 180:
                op = op.rotate(-180).translate(tx=src_w, ty=src_h)
            elif rot == 270:
                op = op.rotate(-270).translate(tx=src_w, ty=0)
            op = op.scale(sx=scale, sy=scale).translate(tx=tx, ty=ty)
            current.merge_transformed_page(page, op, expand=False)
            index += 1
    if current is not None:
        writer.add_page(current)
    with open(report, "wb") as out:
        writer.write(out)
    print(len(writer.pages))


if __name__ == "__main__":
    main()
