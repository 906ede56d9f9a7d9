#!/usr/bin/python3
"""Compares two workbooks cell by cell: same sheets in the same order, same cell values.

    compare-workbooks.py A.xlsm B.xlsm [--same-folder A_FOLDER B_FOLDER] [--ignore SHEET!CELL ...]

--same-folder: B was made on another OS from a copy of A's input in B_FOLDER; a path under
B_FOLDER in B (anywhere in a cell) reads as the same path under A_FOLDER, "\\" as "/".
--ignore: cells (Sheet!B7) or whole columns (Sheet!G) whose values may differ, such as times.
Prints each difference and exits 1 when there is one.
"""
import argparse
import sys

import openpyxl


def cells(path):
    wb = openpyxl.load_workbook(path, read_only=True, data_only=True)
    out = {}
    for ws in wb.worksheets:
        rows = {}
        for row in ws.iter_rows():
            for c in row:
                if c.value is not None and hasattr(c, "coordinate"):
                    rows[c.coordinate] = c.value
        out[ws.title] = rows
    return list(wb.sheetnames), out


def same_folder(value, a_folder, b_folder):
    if isinstance(value, str) and b_folder and b_folder in value:
        head, *rest = value.split(b_folder)
        value = head + "".join(a_folder + part.replace("\\", "/") for part in rest)
    return value


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("a")
    ap.add_argument("b")
    ap.add_argument("--same-folder", nargs=2, default=(None, None))
    ap.add_argument("--ignore", nargs="*", default=[])
    args = ap.parse_args()
    ignore = set(args.ignore)
    a_names, a = cells(args.a)
    b_names, b = cells(args.b)
    a_folder, b_folder = args.same_folder
    for sheet in b.values():
        for coord, v in sheet.items():
            sheet[coord] = same_folder(v, a_folder, b_folder)
    diffs = []
    if a_names != b_names:
        diffs.append(f"sheets differ: {a_names} vs {b_names}")
    count = 0
    for name in a_names:
        if name not in b:
            continue
        for coord in sorted(set(a[name]) | set(b[name])):
            column = coord.rstrip("0123456789")
            if f"{name}!{coord}" in ignore or f"{name}!{column}" in ignore:
                continue
            count += 1
            va, vb = a[name].get(coord), b[name].get(coord)
            if va != vb:
                diffs.append(f"{name}!{coord}: {va!r} vs {vb!r}")
    for d in diffs[:50]:
        print(d)
    if len(diffs) > 50:
        print(f"... {len(diffs) - 50} more differences")
    print(f"{count} cells compared in {len(a_names)} sheets, {len(diffs)} differences")
    return 1 if diffs else 0


if __name__ == "__main__":
    sys.exit(main())
