#include "UntLoginPrompt.h"

#include "settings/UntConfig.h"
#include "settings/UntPassHash.h"
#include "storage/UntDbAccess.h"

#include <cstdio>
#include <string>

#ifndef Q_OS_WIN
#include <termios.h>
#include <unistd.h>
#endif

QString ReadPasswordLine(const char* prompt) {
    std::string line;
#ifndef Q_OS_WIN
    const bool tty = ::isatty(STDIN_FILENO);
    termios saved{};
    if (tty) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
#endif
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar())
        line.push_back(static_cast<char>(c));
#ifndef Q_OS_WIN
    if (tty) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
#endif
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
}

bool TerminalUnlock() {
    return !DbAccess->LockedWithPassword() || DbAccess->UnlockWith(ReadPasswordLine(LoginPrompt));
}

bool TerminalLoginOk(const TConfig& config) {
    // The password already opened the data file.
    if (DbAccess->KeyIsPassword())
        return true;
    return !config.bPass || VerifyPassword(ReadPasswordLine(LoginPrompt), config.PassWord);
}
