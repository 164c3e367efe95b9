#!/usr/bin/python3
"""Writes a seeded .xls (BIFF8) worksheet of narrow rows and the very same values as CSV.

    make_xls.py --rows=N [--seed=S] [--sheet=NAME] --xls=FILE --csv-dir=DIR

The worksheet holds a header and N rows (at most 65,535: the format's limit is 65,536 rows) of
num (whole number), amount (number), day (date), label (short text) and flag (boolean). DIR receives
<table>.csv, manifest.tsv and schema.sql like the workbook generator's; the table is the sheet name
in lower case. Needs python3-xlwt.
"""
import argparse
import datetime
import os
import random

import xlwt

MAX_ROWS = 65535
WORDS = ["alpha", "Zürich", "São Paulo", "Łódź", "O'Brien", "a,b", 'say "hi"', "Ærø", "delta", "echo",
         "Øresund", "naïve café", "x-ray", "Straße"]


def csv_quoted(text):
    return '"' + text.replace('"', '""') + '"'


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rows", type=int, required=True)
    parser.add_argument("--seed", type=int, default=20240601)
    parser.add_argument("--sheet", default="Legacy")
    parser.add_argument("--xls", required=True)
    parser.add_argument("--csv-dir", required=True)
    args = parser.parse_args()
    if not 0 <= args.rows <= MAX_ROWS:
        parser.error("--rows must be between 0 and %d" % MAX_ROWS)

    rng = random.Random(args.seed)
    table = args.sheet.lower()
    heads = ["num", "amount", "day", "label", "flag"]
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet(args.sheet)
    date_style = xlwt.easyxf(num_format_str="yyyy-mm-dd")
    epoch = datetime.date(1970, 1, 1)

    with open(os.path.join(args.csv_dir, table + ".csv"), "w", encoding="utf-8", newline="") as csv:
        for c, head in enumerate(heads):
            sheet.write(0, c, head)
        csv.write(",".join(heads) + "\n")
        for r in range(1, args.rows + 1):
            num = rng.randint(-2000000000, 2000000000)
            amount = rng.randint(-100000000000, 100000000000) / 100.0
            day = epoch + datetime.timedelta(days=rng.randint(18264, 18264 + 36524) - 25569)
            label = "%s %d" % (rng.choice(WORDS), rng.randrange(100000))
            flag = rng.random() < 0.5
            sheet.write(r, 0, num)
            sheet.write(r, 1, amount)
            sheet.write(r, 2, day, date_style)
            sheet.write(r, 3, label)
            sheet.write(r, 4, flag)
            # repr of a float is its shortest exact form, which the server reads back bit for bit.
            csv.write("%d,%r,%s,%s,%s\n" % (num, amount, day.isoformat(), csv_quoted(label),
                                           "true" if flag else "false"))
    book.save(args.xls)

    with open(os.path.join(args.csv_dir, "manifest.tsv"), "w", encoding="utf-8") as manifest:
        manifest.write("%s\t%d\n" % (table, args.rows))
    with open(os.path.join(args.csv_dir, "schema.sql"), "w", encoding="utf-8") as schema:
        schema.write('CREATE TABLE "%s" ("num" bigint, "amount" double precision, "day" date, '
                     '"label" text, "flag" boolean);\n' % table)


if __name__ == "__main__":
    main()
