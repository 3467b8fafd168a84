#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The program's version, as --version and the package give it.
QString ProgramVersion();

// What a run that ends on the command line prints: help, version or a usage error.
struct TCommandLineAnswer {
    int exitCode = 0;
    QString text;
    bool isError = false; // belongs on standard error
};

// Answers that are not printed but run: the sync actions (text: URL and USER, one a line).
inline constexpr int SyncSetupAction = -100;
inline constexpr int SyncAction = -101;

// Reads the command line (arguments[0] is the program). Options that only answer on the
// terminal are decided here, before the application object exists, so they need no display
// and never touch the lock or the data file. Nothing means: start the program. Qt's own
// options (-platform, -style, ...) are let through to the application object.
std::optional<TCommandLineAnswer> AnswerCommandLine(const QStringList& arguments);

// One exchange the command line asks for: Option is "export-ics", "import-ics",
// "export-notes" or "import-notes", Path its file or folder.
struct TExchangeRequest {
    QString Option;
    QString Path;
    bool Imports() const { return Option.startsWith(QLatin1String("import")); }
};
// The exchange of a command line that AnswerCommandLine lets start, if any.
std::optional<TExchangeRequest> ExchangeRequestOf(const QStringList& arguments);
QStringList ArgumentsOf(int argc, char** argv);

// main()'s side of it: prints the answer; its exit code, or nothing to start the program.
std::optional<int> HandleCommandLine(int argc, char** argv);
