"""Reference for bench_export: the same sheet text export done with openpyxl (full mode, so
merged cells are known). Usage: openpyxl_export.py WORKBOOK OUTDIR"""
import datetime
import os
import sys

import openpyxl


def field(v):
    if v is None:
        return ""
    if isinstance(v, bool):
        return "True" if v else "False"
    if isinstance(v, (int, float, datetime.datetime, datetime.date, datetime.time, datetime.timedelta)):
        return str(v) if not isinstance(v, float) else repr(v)
    return str(v).replace("\t", " ").replace("\r", " ").replace("\n", " ")


def main():
    book, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    wb = openpyxl.load_workbook(book, data_only=False)
    for ws in wb.worksheets:
        with open(os.path.join(out, ws.title.replace("/", "_") + ".txt"), "w", encoding="utf-8", newline="\n") as f:
            for row in ws.iter_rows(min_row=1, max_row=ws.max_row, max_col=ws.max_column, values_only=True):
                f.write("\t".join(field(v) for v in row) + "\n")


if __name__ == "__main__":
    main()
