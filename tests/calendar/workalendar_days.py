#!/usr/bin/python3
"""Prints YYYY-MM-DD<TAB>W (working day) or <TAB>O (off) for every day of the given years
(default 2018-2023) as Debian's python3-workalendar sees China, a second source to hold our
holiday file against. Run with /usr/bin/python3: that is where Debian installs workalendar.
"""
import datetime
import sys
import warnings

from workalendar.asia import China

# It warns on every year that its China table needs yearly updates; we know, and pick the years.
warnings.simplefilter("ignore")
china = China()
for year in [int(a) for a in sys.argv[1:]] or range(2018, 2024):
    day = datetime.date(year, 1, 1)
    while day.year == year:
        print(f"{day}\t{'W' if china.is_working_day(day) else 'O'}")
        day += datetime.timedelta(days=1)
