"""An independent CalDAV client for the sync tests (Debian's python3-caldav).

    caldav_client.py URL USER PASSWORD dump
        prints one JSON object: the calendars by display name, each with its events and
        journals (uid, summary, description, rrule, dtstart, parent, ...; ics: the object's text)
    caldav_client.py URL USER PASSWORD edit UID FIELD TEXT
        sets a property of the object with that UID (RRULE as a rule) and saves it
    caldav_client.py URL USER PASSWORD raw UID FIND REPLACE
        replaces text in that object's iCalendar text as it stands and saves it (for what no
        library would write)
    caldav_client.py URL USER PASSWORD add CALENDAR UID DAY SUMMARY
        adds an all-day event (DAY as YYYYMMDD) to the calendar of that display name
    caldav_client.py URL USER PASSWORD wipe
        deletes every calendar of the account
"""
import datetime
import json
import sys

import caldav
import icalendar


def objects(calendar):
    for obj in list(calendar.events()) + list(calendar.journals()):
        cal = icalendar.Calendar.from_ical(obj.data)
        for comp in cal.walk():
            if comp.name in ("VEVENT", "VJOURNAL"):
                yield obj, cal, comp


def describe(comp):
    rrule = comp.get("RRULE")
    parent = ""
    related = comp.get("RELATED-TO")
    for rel in related if isinstance(related, list) else [related] if related else []:
        if rel.params.get("RELTYPE", "PARENT") == "PARENT":
            parent = str(rel)
    return {
        "kind": comp.name,
        "uid": str(comp.get("UID")),
        "summary": str(comp.get("SUMMARY", "")),
        "description": str(comp.get("DESCRIPTION", "")),
        "rrule": rrule.to_ical().decode() if rrule else "",
        "dtstart": comp.get("DTSTART").to_ical().decode() if comp.get("DTSTART") else "",
        "parent": parent,
        "location": str(comp.get("LOCATION", "")),
        "duration": comp.get("DURATION").to_ical().decode() if comp.get("DURATION") else "",
        "rdates": len(comp.get("RDATE", [])) if isinstance(comp.get("RDATE"), list)
        else (1 if comp.get("RDATE") else 0),
    }


def main():
    url, user, password, command = sys.argv[1:5]
    client = caldav.DAVClient(url=url, username=user, password=password)
    calendars = client.principal().calendars()
    if command == "dump":
        out = {}
        for calendar in calendars:
            out[calendar.get_display_name()] = [
                dict(describe(c), ics=o.data) for o, _, c in objects(calendar)]
        print(json.dumps(out, ensure_ascii=False))
        return
    if command == "wipe":
        for calendar in calendars:
            calendar.delete()
        return
    if command == "add":
        name, uid, day, summary = sys.argv[5:9]
        for calendar in calendars:
            if calendar.get_display_name() == name:
                calendar.save_event(
                    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//caldav_client//EN\r\n"
                    "BEGIN:VEVENT\r\nUID:%s\r\nDTSTAMP:20260101T000000Z\r\n"
                    "DTSTART;VALUE=DATE:%s\r\nSUMMARY:%s\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"
                    % (uid, day, summary))
                return
        sys.exit("no such calendar: " + name)
    uid, field, text = sys.argv[5:8]
    for calendar in calendars:
        for obj, cal, comp in objects(calendar):
            if str(comp.get("UID")) != uid:
                continue
            if command == "raw":
                if field not in obj.data:
                    sys.exit("not in the object: " + field)
                obj.data = obj.data.replace(field, text)
            else:
                comp.pop(field, None)
                if field == "RRULE":
                    comp.add(field, icalendar.vRecur.from_ical(text))
                else:
                    comp[field] = text
                comp.pop("LAST-MODIFIED", None)
                comp.add("LAST-MODIFIED", datetime.datetime.now(datetime.timezone.utc))
                obj.data = cal.to_ical()
            obj.save()
            return
    sys.exit("no such object: " + uid)


main()
