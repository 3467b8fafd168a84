#!/usr/bin/python3
"""Reads a calendar file with an independent parser (icalendar, dateutil) and prints, for
every event, the minutes on which its alarms ring between two days, its exceptions (EXDATE)
left out: "ID YYYY-MM-DD HH:MM".
Problems with the file's form go to standard error and make the exit status 1."""
import datetime
import sys

from dateutil.rrule import rrulestr
from icalendar import Calendar

path, first, last = sys.argv[1], sys.argv[2], sys.argv[3]
first = datetime.date.fromisoformat(first)
last = datetime.date.fromisoformat(last)  # not included
problems = []


def need(ok, what):
    if not ok:
        problems.append(what)


with open(path, "rb") as f:
    raw = f.read()
need(raw.endswith(b"\r\n") and b"\n" not in raw.replace(b"\r\n", b""), "lines not ended by CRLF")
need(all(len(line) <= 75 for line in raw.split(b"\r\n")), "line longer than 75 octets")
cal = Calendar.from_ical(raw)
need(cal.name == "VCALENDAR", "not a VCALENDAR")
need(str(cal.get("VERSION")) == "2.0", "VERSION")
need("PRODID" in cal, "PRODID")


for component in cal.walk():
    errors = getattr(component, "errors", [])
    need(not errors, "%s: %s" % (component.name, errors))

rings = set()
for event in cal.walk("VEVENT"):
    ident = str(event.get("X-QUILLET-ID"))
    for prop in ("UID", "DTSTAMP", "DTSTART", "SUMMARY"):
        need(prop in event, "%s lacks %s" % (ident, prop))
    start = event.decoded("DTSTART")
    need(isinstance(start, datetime.datetime) and start.tzinfo is None,
         "%s: DTSTART is not a floating date-time" % ident)
    offsets = []
    for alarm in event.walk("VALARM"):
        for prop in ("ACTION", "TRIGGER", "DESCRIPTION"):
            need(prop in alarm, "%s: alarm lacks %s" % (ident, prop))
        offsets.append(alarm.decoded("TRIGGER"))
    need(offsets, "%s has no alarm" % ident)
    rdates = event.get("RDATE", [])
    if not isinstance(rdates, list):
        rdates = [rdates]
    extra = [d.dt for r in rdates for d in r.dts]
    exdates = event.get("EXDATE", [])
    if not isinstance(exdates, list):
        exdates = [exdates]
    excluded = {d.dt for x in exdates for d in x.dts}
    need(all(isinstance(d, datetime.datetime) and d.tzinfo is None for d in excluded | set(extra)),
         "%s: EXDATE or RDATE is not a floating date-time" % ident)
    rule = event.get("RRULE")
    need(rule is None or "RSCALE" not in rule, "%s: a calendar scale most programs refuse" % ident)
    if rule is None:
        days = [start]
    else:
        text = rule.to_ical().decode()
        expanded = rrulestr(text, dtstart=start)
        begin = datetime.datetime.combine(first - datetime.timedelta(days=40), datetime.time())
        end = datetime.datetime.combine(last + datetime.timedelta(days=40), datetime.time())
        days = expanded.between(begin, end, inc=True)
    for day in (set(days) | set(extra)) - excluded:
        for offset in offsets:
            moment = day + offset
            if first <= moment.date() < last:
                rings.add("%s %s" % (ident, moment.strftime("%Y-%m-%d %H:%M")))

if problems:
    sys.stderr.write("\n".join(problems) + "\n")
    sys.exit(1)
print("\n".join(sorted(rings)))
