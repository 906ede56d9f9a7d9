#!/usr/bin/python3
"""Writes the demo program's power order file (a legacy .xls) to the path given."""
import sys, xlwt
wb = xlwt.Workbook()
ws = wb.add_sheet("PowerOrder")
rows = [("Power Pin", "Alias"), ("vdd_io", "VIO"), ("vdd_core", "VCORE"), ("vdda", ""),
        ("vpp", "VPP_PROG"), ("vref", "")]
for r, (pin, alias) in enumerate(rows):
    ws.write(r, 0, pin)
    ws.write(r, 1, alias)
wb.save(sys.argv[1])
