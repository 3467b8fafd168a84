#pragma once

#include <exception>
#include <functional>

class QObject;

// A declined confirmation: ends the command and is never shown.
class EAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// Throws EAbort; the shared way for a command to stop silently.
[[noreturn]] void Abort();

// Who hears of an exception that an event handler let out (the error reporter installs
// itself); an empty one drops them.
using ExceptionReporter = std::function<void(QObject* sender, const std::exception& e)>;
void SetExceptionReporter(ExceptionReporter reporter);

// Runs one event handler. Nothing it throws goes further: a silent abort is dropped, anything
// else goes to the reporter. Exceptions must never unwind through Qt's own frames (signal
// emission, event delivery): Qt does not support it, and what those frames hold leaks.
void RunHandler(QObject* sender, const std::function<void()>& handler);

// handler wrapped for connect() and menus: connect(b, &QPushButton::clicked, this,
// Handler(this, [this] { btnOKClick(); })).
template <typename F> auto Handler(QObject* sender, F handler) {
    return [sender, handler]() { RunHandler(sender, handler); };
}
