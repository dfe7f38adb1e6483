#!/usr/bin/env python3
"""The same renaming pass with openpyxl's read-only reader, for the ledgrin benchmark:
peer_openpyxl.py <folder>  (name D6, amount P56; results/ and backup/ inside the folder)."""
import os
import re
import shutil
import sys
from datetime import datetime

from openpyxl import load_workbook


def clean(value):
    return re.sub(r'[\\/*?:"<>|]', "", str(value)).strip()


def main():
    folder = sys.argv[1]
    results = os.path.join(folder, "results")
    backup = os.path.join(folder, "backup")
    os.makedirs(results, exist_ok=True)
    os.makedirs(backup, exist_ok=True)
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if not name.lower().endswith(".xlsx") or not os.path.isfile(path):
            continue
        book = load_workbook(path, data_only=True, read_only=True)
        sheet = book.active
        who, amount = sheet["D6"].value, sheet["P56"].value
        book.close()
        now = datetime.now()
        code = now.strftime("%m%d_%H%M%S") + now.strftime("%f")[:2]
        shutil.copy2(path, os.path.join(backup, name))
        shutil.move(path, os.path.join(results, "%s_%s_%s.xlsx" % (clean(who), clean(amount), code)))


if __name__ == "__main__":
    main()
