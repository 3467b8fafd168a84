#include "UntIcal.h"

namespace {

void Collect(icalcomponent* c, bool withTodos, QList<icalcomponent*>* events) {
    const icalcomponent_kind kind = icalcomponent_isa(c);
    if (kind == ICAL_VEVENT_COMPONENT || (withTodos && kind == ICAL_VTODO_COMPONENT)) {
        events->append(c);
        return;
    }
    if (kind != ICAL_VCALENDAR_COMPONENT && kind != ICAL_XROOT_COMPONENT)
        return;
    for (icalcomponent* k = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); k;
         k = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT))
        Collect(k, withTodos, events);
}

} // namespace

QList<icalcomponent*> CalendarEvents(icalcomponent* root, bool withTodos) {
    QList<icalcomponent*> events;
    Collect(root, withTodos, &events);
    return events;
}
