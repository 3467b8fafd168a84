#pragma once

#include <QList>
#include <libical/ical.h>
#include <memory>

// What every reader of iCalendar files shares: the owner of a parsed component and the walk
// to its events.

struct TComponentFree {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using TComponent = std::unique_ptr<icalcomponent, TComponentFree>;

// The events under a parsed file (a calendar, or several as an XROOT), in file order; with
// withTodos, the to-dos among them too.
QList<icalcomponent*> CalendarEvents(icalcomponent* root, bool withTodos = false);
