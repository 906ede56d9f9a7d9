"""Reads the Findings sheet of a check report back with openpyxl and prints it as JSON: sheet
order, the active sheet, run settings, counts, legend, header, finding rows, their fills, the
frozen pane, the autofilter and the column widths.

usage: read_findings_sheet.py <report.xlsm>
"""
import json
import sys

import openpyxl


def fill_of(cell):
    f = cell.fill
    if f is None or f.fill_type is None:
        return None
    rgb = f.fgColor.rgb if isinstance(f.fgColor.rgb, str) and f.fgColor.rgb != "00000000" else f.bgColor.rgb
    return rgb[-6:].upper() if isinstance(rgb, str) else None


def main():
    wb = openpyxl.load_workbook(sys.argv[1])
    ws = wb.worksheets[0]
    out = {"sheets": wb.sheetnames, "active": wb.index(wb.active), "settings": {}, "counts": {},
           "legend": [], "rows": [], "fills": []}
    section = None
    header_row = None
    for row in ws.iter_rows():
        a, b = row[0].value, row[1].value
        if header_row is not None:
            out["rows"].append([c.value for c in row[:7]])
            out["fills"].append(fill_of(row[0]))
            continue
        if a == "Severity":
            header_row = row[0].row
            out["header"] = [c.value for c in row[:7]]
            continue
        if a in ("Run settings", "Counts", "Fills on the other sheets"):
            section = a
            continue
        if a is None and b is None:
            continue
        if section == "Run settings":
            out["settings"][a] = b
        elif section == "Counts":
            out["counts"][a] = b
        else:
            out["legend"].append([fill_of(row[0]), b])
    for r in out["rows"]:
        if isinstance(r[4], float) and r[4].is_integer():
            r[4] = int(r[4])
    for k, v in out["counts"].items():
        if isinstance(v, float) and v.is_integer():
            out["counts"][k] = int(v)
    out["freeze"] = ws.freeze_panes
    out["header_cell_below"] = "A%d" % (header_row + 1)
    out["autofilter"] = ws.auto_filter.ref
    out["expected_filter"] = "A%d:G%d" % (header_row, header_row + len(out["rows"]))
    out["widths"] = {k: v.width for k, v in ws.column_dimensions.items()}
    print(json.dumps(out, default=str))


if __name__ == "__main__":
    main()
