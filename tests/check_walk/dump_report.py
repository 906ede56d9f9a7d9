"""Renders a check report as plain text for review and comparison: every sheet in workbook
order with its non-empty cells, the fills that carry meaning, outline rows, conditional formats,
frozen panes and the autofilter. Read with openpyxl, independently of the writer.

usage: dump_report.py <report.xlsm> [<output.txt>]
"""
import sys

import openpyxl
from openpyxl.utils import get_column_letter


def colour(fill):
    if fill is None or fill.fill_type is None:
        return None
    rgb = fill.fgColor.rgb if fill.fgColor is not None else None
    if not isinstance(rgb, str) or rgb in ("00000000",):
        rgb = fill.bgColor.rgb if fill.bgColor is not None else None
    if not isinstance(rgb, str):
        return None
    return rgb[-6:].upper()


def value_text(cell):
    v = cell.value
    if v is None:
        return None
    if isinstance(v, str):
        return repr(v)
    if isinstance(v, float) and v.is_integer():
        return "%s" % v
    return repr(v)


# Run settings of the Findings sheet that differ from run to run and machine to machine.
VOLATILE_SETTINGS = ("Program", "Options", "Tool version", "Date")


def dump(path):
    wb = openpyxl.load_workbook(path, keep_vba=False)
    out = []
    for ws in wb.worksheets:
        out.append("== " + ws.title)
        for row in ws.iter_rows():
            volatile = ws.title == "Findings" and row[0].value in VOLATILE_SETTINGS
            for cell in row:
                text = value_text(cell)
                if volatile and cell.column == 2:
                    text = "<this run>"
                fill = colour(cell.fill)
                if text is None and fill is None:
                    continue
                line = "%s = %s" % (cell.coordinate, text if text is not None else "<blank>")
                if fill:
                    line += " | fill " + fill
                if cell.font is not None and cell.font.b:
                    line += " | bold"
                out.append(line)
        for idx in sorted(ws.row_dimensions):
            d = ws.row_dimensions[idx]
            marks = []
            if d.hidden:
                marks.append("hidden")
            if d.outlineLevel:
                marks.append("level=%d" % d.outlineLevel)
            if d.collapsed:
                marks.append("collapsed")
            if d.ht is not None and d.customHeight:
                marks.append("height=%g" % d.ht)
            if marks:
                out.append("row %d: %s" % (idx, " ".join(marks)))
        widths = []
        for key in sorted(ws.column_dimensions, key=lambda k: openpyxl.utils.column_index_from_string(k)):
            d = ws.column_dimensions[key]
            if d.customWidth and d.width:
                first = get_column_letter(d.min) if d.min else key
                last = get_column_letter(d.max) if d.max else key
                widths.append("%s:%s=%g" % (first, last, round(d.width)))
        if widths:
            out.append("widths: " + " ".join(widths))
        for rng, rules in sorted(((str(cf.sqref), cf.rules) for cf in ws.conditional_formatting),
                                 key=lambda p: p[0]):
            for rule in rules:
                fill = colour(rule.dxf.fill) if rule.dxf is not None else None
                # The formula decides which cells a rule marks, so it belongs in the rendering.
                formula = (" formula " + ";".join(rule.formula)) if rule.formula else ""
                out.append("cf %s: %s%s%s" % (rng, rule.type, (" fill " + fill) if fill else "", formula))
        if ws.freeze_panes:
            out.append("freeze: " + ws.freeze_panes)
        if ws.auto_filter.ref:
            out.append("autofilter: " + ws.auto_filter.ref)
        wo = ws.sheet_properties.outlinePr
        if wo is not None and (wo.summaryBelow is not None or wo.summaryRight is not None):
            out.append("outline: summaryBelow=%s summaryRight=%s" % (wo.summaryBelow, wo.summaryRight))
    return "\n".join(out) + "\n"


if __name__ == "__main__":
    text = dump(sys.argv[1])
    if len(sys.argv) > 2:
        with open(sys.argv[2], "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
