#include "UntCommandLine.h"

#include "UntSyncCommand.h"

#include <QCommandLineParser>
#include <cstdio>

#ifndef QUILLET_VERSION
#error "QUILLET_VERSION comes from the build (the project's version)"
#endif

namespace {

// Options QGuiApplication and QApplication read themselves; accepted here so that a start
// with them is not refused. The value-taking ones must be known, or their value would look
// like a stray argument.
const char* const QtValueOptions[] = {"platform",        "platformpluginpath",
                                      "platformtheme",   "plugin",
                                      "qwindowgeometry", "qwindowicon",
                                      "qwindowtitle",    "session",
                                      "display",         "geometry",
                                      "style",           "stylesheet",
                                      "qmljsdebugger",   "dialogs",
                                      "fontengine",      "name",
                                      "title",           "visual"};
// X11's -sync is not among them: --sync is the program's own.
const char* const QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb"};

struct TExchangeOption {
    const char* name;
    const char* value;
    const char* help;
};
const TExchangeOption ExchangeOptions[] = {
    {"export-ics", "FILE", "Write every reminder to the iCalendar file FILE and exit."},
    {"import-ics", "FILE", "Add the reminders of the iCalendar file FILE and exit."},
    {"export-notes", "DIR", "Write the notes into the new or empty folder DIR and exit."},
    {"import-notes", "DIR", "Add the notes of the folder DIR under the root group and exit."},
    {"import-holidays", "FILE",
     "Read China's official holiday schedule from the iCalendar file FILE and exit."}};

void AddExchangeOptions(QCommandLineParser& parser) {
    for (const TExchangeOption& o : ExchangeOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(o.name),
                                            QString::fromLatin1(o.help),
                                            QString::fromLatin1(o.value)));
}

} // namespace

QString ProgramVersion() {
    return QStringLiteral(QUILLET_VERSION);
}

std::optional<TCommandLineAnswer> AnswerCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quillet: timed reminders and a notepad (定时提醒与记事本).\n"
                       "Without options it starts the program. Qt's standard options\n"
                       "(-platform, -style, ...) are accepted as well."));
    // Qt's options have one dash and long names (-platform, -style=fusion).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({"h", "help"}, QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({"v", "version"},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption syncSetup(
        "sync-setup",
        // No line breaks: the parser wraps it and indents the lines that follow.
        QStringLiteral("Set up sync with the CalDAV server at URL as USER: quillet "
                       "--sync-setup URL USER. The password is read from standard input "
                       "(after the login password, when one is set)."));
    const QCommandLineOption sync("sync", QStringLiteral("Sync once; exit status 0 on success."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(syncSetup);
    parser.addOption(sync);
    AddExchangeOptions(parser);
    for (const char* name : QtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : QtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    const QString program = QStringLiteral("quillet");
    const QString tryHelp = QStringLiteral("Try '%1 --help' for the options.\n").arg(program);
    if (!parser.parse(arguments))
        return TCommandLineAnswer{2, program + ": " + parser.errorText() + "\n" + tryHelp, true};
    if (parser.isSet(help)) {
        // The parser's usage line names argv[0], or a placeholder without an application
        // object: name the installed command instead.
        const QString text = parser.helpText();
        return TCommandLineAnswer{
            0, QStringLiteral("Usage: %1 [options]").arg(program) + text.mid(text.indexOf('\n')),
            false};
    }
    if (parser.isSet(version))
        return TCommandLineAnswer{0, program + " " + ProgramVersion() + "\n", false};
    if (parser.isSet(syncSetup)) {
        if (parser.positionalArguments().size() != 2)
            return TCommandLineAnswer{2, program + ": --sync-setup needs URL and USER\n" + tryHelp,
                                      true};
        return TCommandLineAnswer{SyncSetupAction, parser.positionalArguments().join('\n'), false};
    }
    if (parser.isSet(sync) && parser.positionalArguments().isEmpty())
        return TCommandLineAnswer{SyncAction, QString(), false};
    if (!parser.positionalArguments().isEmpty()) {
        return TCommandLineAnswer{2,
                                  program + ": unexpected argument: " +
                                      parser.positionalArguments().join(' ') + "\n" + tryHelp,
                                  true};
    }
    int exchanges = 0;
    for (const TExchangeOption& o : ExchangeOptions)
        exchanges += static_cast<int>(parser.values(QString::fromLatin1(o.name)).size());
    if (exchanges > 1)
        return TCommandLineAnswer{2, program + ": only one exchange option at a time\n" + tryHelp,
                                  true};
    return std::nullopt;
}

std::optional<TExchangeRequest> ExchangeRequestOf(const QStringList& arguments) {
    // Only called once AnswerCommandLine has let the arguments through.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    AddExchangeOptions(parser);
    parser.parse(arguments);
    for (const TExchangeOption& o : ExchangeOptions)
        if (parser.isSet(QString::fromLatin1(o.name)))
            return TExchangeRequest{QString::fromLatin1(o.name),
                                    parser.value(QString::fromLatin1(o.name))};
    return std::nullopt;
}

QStringList ArgumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

std::optional<int> HandleCommandLine(int argc, char** argv) {
    const std::optional<TCommandLineAnswer> answer = AnswerCommandLine(ArgumentsOf(argc, argv));
    if (!answer)
        return std::nullopt;
    if (answer->exitCode == SyncSetupAction || answer->exitCode == SyncAction) {
        const QStringList args = answer->text.split('\n');
        const bool setup = answer->exitCode == SyncSetupAction;
        return RunSyncCommand(argc, argv, setup, setup ? args[0] : QString(),
                              setup ? args[1] : QString());
    }
    std::fputs(answer->text.toLocal8Bit().constData(), answer->isError ? stderr : stdout);
    return answer->exitCode;
}
