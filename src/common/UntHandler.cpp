#include "UntHandler.h"

#include <stdexcept>

namespace {
ExceptionReporter reporter;
}

void Abort() {
    throw EAbort();
}

void SetExceptionReporter(ExceptionReporter r) {
    reporter = std::move(r);
}

void RunHandler(QObject* sender, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const EAbort&) {
    } catch (const std::exception& e) {
        if (reporter)
            reporter(sender, e);
    } catch (...) {
        if (reporter)
            reporter(sender, std::runtime_error("unknown error"));
    }
}
