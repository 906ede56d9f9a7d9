"""Checks that a demo program's workbook holds the same cells as its sheet text files:
same sheets, same rows, same field texts; numbers stored as numbers, texts as strings."""
import os
import sys

import openpyxl


def field_text(v):
    if v is None:
        return ''
    if isinstance(v, bool):
        return 'True' if v else 'False'
    if isinstance(v, (int, float)):
        if float(v).is_integer():
            return str(int(v))
        return repr(float(v))
    return v


def main(folder, workbook):
    wb = openpyxl.load_workbook(workbook, read_only=True)
    problems = []
    names = []
    for ws in wb.worksheets:
        names.append(ws.title)
        with open(os.path.join(folder, ws.title + '.txt'), encoding='utf-8', newline='') as f:
            lines = f.read().split('\n')
        assert lines[-1] == '', ws.title + ': no final line break'
        lines = lines[:-1]
        rows = list(ws.iter_rows(values_only=True))
        if len(rows) != len(lines):
            problems.append('%s: %d rows in the workbook, %d lines' % (ws.title, len(rows), len(lines)))
            continue
        width = len(lines[0].split('\t'))
        for i, (row, line) in enumerate(zip(rows, lines)):
            fields = line.split('\t')
            if len(fields) != width:
                problems.append('%s line %d: %d fields, not %d' % (ws.title, i + 1, len(fields), width))
            cells = [field_text(v) for v in row] + [''] * (len(fields) - len(row))
            if cells != fields:
                problems.append('%s line %d: %r != %r' % (ws.title, i + 1, cells, fields))
            for v in row:
                # An expression or a name must never have become a number, nor a number a text.
                if isinstance(v, str):
                    try:
                        float(v)
                        problems.append('%s line %d: number stored as text %r' % (ws.title, i + 1, v))
                    except ValueError:
                        pass
    texts = sorted(n[:-4] for n in os.listdir(folder) if n.endswith('.txt'))
    if sorted(names) != texts:
        problems.append('sheets %r, text files %r' % (sorted(names), texts))
    for p in problems[:20]:
        print(p)
    print('%d sheets checked, %d problems' % (len(names), len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2]))
