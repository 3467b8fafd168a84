#pragma once

#include <QString>

class TConfig;

// One line from standard input (without its CR), not echoed and after prompt when it is a
// terminal.
QString ReadPasswordLine(const char* prompt);
inline constexpr char LoginPrompt[] = "登录密码: ";
// What the command-line actions say when the login password is wrong or missing.
inline constexpr char WrongLoginText[] = "需要正确的登录密码，未做任何更改。";

// A data file encrypted with the login password is opened with the first line of standard
// input; false when that is not the password. True at once for any other file.
bool TerminalUnlock();

// The command line's login: true when no password is set, or when the first line of standard
// input is the password.
bool TerminalLoginOk(const TConfig& config);
