#include "XSupport.h"

#include "TestSupport.h"

#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

namespace {

// Runs xprop on the display env names; its output, or nothing when it failed.
QByteArray Xprop(const QProcessEnvironment& env, const QStringList& arguments) {
    QProcess xprop;
    xprop.setProcessEnvironment(env);
    xprop.start(QStringLiteral("xprop"), arguments);
    if (!xprop.waitForFinished(5000) || xprop.exitStatus() != QProcess::NormalExit ||
        xprop.exitCode() != 0)
        return {};
    return xprop.readAll();
}

} // namespace

TXServer::TXServer(bool windowManager) {
    // A loaded machine now and then starts neither in time: once more from the beginning.
    for (int attempt = 0; attempt < 2 && display_.isEmpty(); ++attempt) {
        Stop();
        Start(windowManager);
    }
}

void TXServer::Start(bool windowManager) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return;
    process_ = std::make_unique<QProcess>();
    process_->start(xvfb,
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!process_->waitForStarted(5000))
        return;
    // The server writes its display number once it accepts clients.
    WaitFor([&] { return process_->canReadLine() || process_->state() != QProcess::Running; },
            10000);
    const QString number = QString::fromLatin1(process_->readLine()).trimmed();
    if (number.isEmpty())
        return;
    display_ = QLatin1Char(':') + number;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    // A server that went away right after naming its display (another one on that number
    // moments before) is started again.
    if (Xprop(env, {QStringLiteral("-root"), QStringLiteral("-len"), QStringLiteral("1")})
            .isEmpty() ||
        process_->state() != QProcess::Running) {
        display_.clear();
        return;
    }
    if (!windowManager)
        return;
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty()) {
        display_.clear();
        return;
    }
    // Now and then the manager cannot open a display that has just answered xprop; it gives up
    // at once, and a second start gets in.
    for (int attempt = 0; attempt < 5; ++attempt) {
        manager_ = std::make_unique<QProcess>();
        manager_->setProcessEnvironment(env);
        manager_->start(openbox, {QStringLiteral("--sm-disable")});
        if (!manager_->waitForStarted(5000))
            break;
        // The manager is in charge once it names itself on the root window.
        const bool named = WaitFor([&] {
            return Xprop(env, {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                       .contains("window id") ||
                   manager_->state() != QProcess::Running;
        });
        if (named && manager_->state() == QProcess::Running)
            return;
        manager_->kill();
        manager_->waitForFinished(5000);
        QTest::qWait(200);
    }
    display_.clear();
}

TXServer::~TXServer() {
    Stop();
}

void TXServer::Stop() {
    // Asked to end, the server removes its lock file and socket; killed, it leaves them to a
    // server started meanwhile by a test running alongside, which may then lose its display.
    for (auto* p : {manager_.get(), process_.get()})
        if (p) {
            p->terminate();
            if (!p->waitForFinished(3000)) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    manager_.reset();
    process_.reset();
}

// Runs xdotool on the display; its output.
QString Xdo(const QString& display, const QStringList& arguments) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), arguments);
    p.waitForFinished(15000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString WaitForWindow(const QString& display, const QString& name, QProcess* process) {
    QString window;
    WaitFor([&] {
        window = Xdo(display, {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                               QStringLiteral("--name"), name})
                     .section(QLatin1Char('\n'), 0, 0);
        return !window.isEmpty() || process->state() != QProcess::Running;
    });
    return window;
}

QPoint WindowOrigin(const QString& display, const QString& window) {
    QPoint at(-1, -1);
    for (const QString& line :
         Xdo(display, {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window})
             .split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("X=")))
            at.setX(line.mid(2).toInt());
        if (line.startsWith(QLatin1String("Y=")))
            at.setY(line.mid(2).toInt());
    }
    return at;
}

bool ToolsPresent(const QStringList& tools) {
    bool present = true;
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            ADD_FAILURE() << tool.toStdString() << " is not installed; run scripts/setup.sh";
            present = false;
        }
    return present;
}
