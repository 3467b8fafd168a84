#pragma once

#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

// An X server of its own on a free display (Xvfb), for as long as the object lives; with
// a window manager (openbox) when asked, for window frames and close requests.
class TXServer {
public:
    explicit TXServer(bool windowManager = false);
    ~TXServer();
    QString Display() const { return display_; }

private:
    void Start(bool windowManager);
    bool StartServer(const QString& xvfb, int number);
    void Stop();

    std::unique_ptr<QProcess> process_;
    std::unique_ptr<QProcess> manager_;
    QString display_;
    int reservation_ = -1; // the locked file that keeps the display number ours
};

// Whether every tool is installed; a test failure names each one that is not.
bool ToolsPresent(const QStringList& tools);

// Runs an X client (its program and arguments) on the display; its standard output.
QString RunOnDisplay(const QString& display, const QStringList& command);
// Runs xdotool on the display; its output.
QString Xdo(const QString& display, const QStringList& arguments);
// Whether the window is mapped and can be seen.
bool Viewable(const QString& display, const QString& window);

// The first visible window whose name contains name, waiting for it while process runs;
// empty when none appears.
QString WaitForWindow(const QString& display, const QString& name, QProcess* process);
// The top left corner of window's client area on the screen; (-1, -1) when unknown.
QPoint WindowOrigin(const QString& display, const QString& window);
