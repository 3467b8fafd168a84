// What the running program costs while nothing happens: processor time and wake-ups of an
// idle stretch, first with the window shown and untouched, then with it put away as a user
// does (minimised: the program hides it in the tray). The programs people would use instead
// are measured side by side in the same run when they are installed (CherryTree, KAlarm), and
// so is any other build of this program given with --also (an earlier one, say).
//
//   quillet_bench_idle [--seconds N] [--shown N] [--quick] [--program PATH]
//                      [--also NAME=PATH]... [--no-others]
//
// --seconds: the stretch put away (60); --shown: the stretch shown (20); --quick: 10 and 5.
// Every program gets an X server of its own (Xvfb, with openbox as window manager and trayer
// as tray when installed), a session bus of its own (dbus-daemon, without service activation)
// and its own HOME and XDG folders; this program runs from a folder of its own, so its data
// file is new. Without Xvfb only this program is measured, on the offscreen platform and
// shown. Counted: all threads of the program's own process (helper processes it starts, such
// as KAlarm's Akonadi, are not): processor time from the scheduler (/proc/PID/task/*/schedstat,
// to the nanosecond) and from utime+stime (/proc/PID/stat, in 10 ms ticks), and wake-ups as
// the voluntary and involuntary context switches of every thread.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace {

QString Tool(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

void Sleep(int ms) {
    QThread::msleep(static_cast<unsigned long>(ms));
}

QByteArray ReadProc(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What one thread has used so far.
struct TThreadUse {
    qint64 cpuNs = 0;
    qint64 switches = 0;
};

// Follows every thread of a process from the start of a stretch: a thread that ends keeps what
// was last read of it, one that begins counts from nothing.
class TUseMeter {
public:
    explicit TUseMeter(qint64 pid) : pid_(pid) {}
    void Start() {
        start_ = Threads();
        last_ = start_;
        ticksAtStart_ = Ticks();
    }
    void Sample() {
        for (auto [tid, use] : Threads().asKeyValueRange())
            last_[tid] = use;
    }
    void Stop() {
        Sample();
        ticks_ = Ticks() - ticksAtStart_;
        cpuNs_ = switches_ = 0;
        for (auto [tid, use] : last_.asKeyValueRange()) {
            const TThreadUse before = start_.value(tid);
            cpuNs_ += use.cpuNs - before.cpuNs;
            switches_ += use.switches - before.switches;
        }
        threads_ = int(Threads().size());
    }
    double CpuMs() const { return double(cpuNs_) / 1e6; }
    double TickMs() const { return double(ticks_) * 1000.0 / double(sysconf(_SC_CLK_TCK)); }
    qint64 Switches() const { return switches_; }
    int ThreadCount() const { return threads_; }

private:
    QMap<qint64, TThreadUse> Threads() const {
        QMap<qint64, TThreadUse> threads;
        const QString task = QStringLiteral("/proc/%1/task").arg(pid_);
        for (const QString& tid : QDir(task).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            TThreadUse use;
            const QByteArray sched = ReadProc(task + '/' + tid + QStringLiteral("/schedstat"));
            const QByteArray status = ReadProc(task + '/' + tid + QStringLiteral("/status"));
            if (sched.isEmpty() || status.isEmpty())
                continue; // ended meanwhile
            use.cpuNs = sched.split(' ').value(0).toLongLong();
            for (const QByteArray& line : status.split('\n'))
                if (line.contains("ctxt_switches:"))
                    use.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
            threads.insert(tid.toLongLong(), use);
        }
        return threads;
    }
    qint64 Ticks() const {
        const QByteArray stat = ReadProc(QStringLiteral("/proc/%1/stat").arg(pid_));
        // The name in parentheses may hold spaces: count the fields after it.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : 0;
    }

    qint64 pid_;
    QMap<qint64, TThreadUse> start_, last_;
    qint64 ticksAtStart_ = 0, ticks_ = 0, cpuNs_ = 0, switches_ = 0;
    int threads_ = 0;
};

std::unique_ptr<QProcess> StartQuiet(const QString& program, const QStringList& arguments,
                                     const QProcessEnvironment& env) {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(env);
    p->setStandardOutputFile(QProcess::nullDevice());
    p->setStandardErrorFile(QProcess::nullDevice());
    p->start(program, arguments);
    p->waitForStarted(5000);
    return p;
}

void End(std::unique_ptr<QProcess>& p) {
    if (!p || p->state() == QProcess::NotRunning)
        return;
    p->terminate();
    if (!p->waitForFinished(3000)) {
        p->kill();
        p->waitForFinished(3000);
    }
}

QString Run(const QProcessEnvironment& env, const QString& program, const QStringList& arguments) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// One program under measurement, with its display, bus and folders.
class TSubject {
public:
    TSubject(QString name, QString program, QString windowName, bool ours)
        : Name(std::move(name)), program_(std::move(program)), windowName_(std::move(windowName)),
          ours_(ours) {}
    ~TSubject() { Stop(); }

    bool Start(bool offscreen, const QString& busConfig) {
        env_ = QProcessEnvironment::systemEnvironment();
        env_.remove(QStringLiteral("SESSION_MANAGER"));
        env_.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        for (const char* dir : {"home", "config", "cache", "data", "state", "run", "prog"})
            QDir().mkpath(dir_.filePath(QString::fromLatin1(dir)));
        QFile::setPermissions(dir_.filePath(QStringLiteral("run")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env_.insert(QStringLiteral("HOME"), dir_.filePath(QStringLiteral("home")));
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        env_.insert(QStringLiteral("XDG_CACHE_HOME"), dir_.filePath(QStringLiteral("cache")));
        env_.insert(QStringLiteral("XDG_DATA_HOME"), dir_.filePath(QStringLiteral("data")));
        env_.insert(QStringLiteral("XDG_STATE_HOME"), dir_.filePath(QStringLiteral("state")));
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath(QStringLiteral("run")));
        if (offscreen) {
            env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        } else {
            if (!StartDisplay())
                return false;
            env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        }
        if (!busConfig.isEmpty()) {
            bus_ = std::make_unique<QProcess>();
            bus_->setProcessEnvironment(env_);
            bus_->start(Tool("dbus-daemon"),
                        {QStringLiteral("--config-file=") + busConfig, QStringLiteral("--nofork"),
                         QStringLiteral("--print-address=1")});
            if (bus_->waitForStarted(5000) && bus_->waitForReadyRead(5000))
                env_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                            QString::fromUtf8(bus_->readLine()).trimmed());
        }
        QString program = program_;
        if (ours_) {
            // Its data file lies beside it: a folder of its own gives it a new one.
            program = dir_.filePath(QStringLiteral("prog/quillet"));
            if (!QFile::copy(program_, program))
                return false;
        }
        process_ = std::make_unique<QProcess>();
        process_->setProcessEnvironment(env_);
        process_->setWorkingDirectory(
            dir_.filePath(ours_ ? QStringLiteral("prog") : QStringLiteral("home")));
        process_->setStandardOutputFile(dir_.filePath(QStringLiteral("output.txt")));
        process_->setStandardErrorFile(dir_.filePath(QStringLiteral("output.txt")));
        process_->start(program, {});
        return process_->waitForStarted(10000);
    }

    bool Running() const { return process_ && process_->state() == QProcess::Running; }
    qint64 Pid() const { return process_ ? process_->processId() : 0; }
    bool OnDisplay() const { return !display_.isEmpty(); }

    // Whether its window is on the screen (offscreen: whether it is still running).
    bool FindWindow() {
        if (!Running())
            return false;
        if (!OnDisplay())
            return true;
        window_ = Run(env_, Tool("xdotool"),
                      {QStringLiteral("search"), QStringLiteral("--pid"), QString::number(Pid()),
                       QStringLiteral("--onlyvisible"), QStringLiteral("--name"), windowName_})
                      .section(QLatin1Char('\n'), 0, 0);
        return !window_.isEmpty();
    }

    void Minimise() {
        if (!window_.isEmpty())
            Run(env_, Tool("xdotool"), {QStringLiteral("windowminimize"), window_});
    }

    // What became of the window: in the tray (withdrawn), minimised (iconic) or shown.
    QString WindowState() {
        if (!OnDisplay())
            return QStringLiteral("shown (offscreen)");
        const QString state = Run(env_, Tool("xprop"), {"-id", window_, "WM_STATE"});
        if (state.contains(QStringLiteral("Iconic")))
            return QStringLiteral("minimised");
        if (state.contains(QStringLiteral("Normal")))
            return QStringLiteral("shown");
        return QStringLiteral("in the tray");
    }

    void Stop() {
        End(process_);
        End(bus_);
        End(tray_);
        End(manager_);
        End(server_);
        if (lock_ >= 0)
            ::close(lock_);
        lock_ = -1;
    }

    QString Name;
    std::unique_ptr<TUseMeter> Meter;
    QString State;

private:
    // An X server on a free display; the lock files are those of the end-to-end tests, so
    // that neither takes the other's display.
    bool StartDisplay() {
        const QString xvfb = Tool("Xvfb");
        for (int number = 40; number < 200 && display_.isEmpty(); ++number) {
            const QByteArray path =
                "/tmp/quillet-test-display-" + QByteArray::number(number) + ".lock";
            lock_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (lock_ < 0 || ::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
                if (lock_ >= 0)
                    ::close(lock_);
                lock_ = -1;
                continue;
            }
            server_ = std::make_unique<QProcess>();
            server_->start(xvfb, {QLatin1Char(':') + QString::number(number),
                                  QStringLiteral("-displayfd"), QStringLiteral("1"),
                                  QStringLiteral("-screen"), QStringLiteral("0"),
                                  QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                  QStringLiteral("tcp"), QStringLiteral("-noreset")});
            if (server_->waitForStarted(5000) && server_->waitForReadyRead(10000) &&
                server_->readLine().trimmed() == QByteArray::number(number)) {
                display_ = QLatin1Char(':') + QString::number(number);
                break;
            }
            End(server_);
            ::close(lock_);
            lock_ = -1;
        }
        if (display_.isEmpty())
            return false;
        env_.insert(QStringLiteral("DISPLAY"), display_);
        if (!Tool("openbox").isEmpty()) {
            manager_ = StartQuiet(Tool("openbox"), {QStringLiteral("--sm-disable")}, env_);
            QElapsedTimer waited;
            waited.start();
            while (waited.elapsed() < 5000 &&
                   !Run(env_, Tool("xprop"), {"-root", "_NET_SUPPORTING_WM_CHECK"})
                        .contains(QStringLiteral("window id")))
                Sleep(100);
        }
        if (!Tool("trayer").isEmpty()) {
            tray_ = StartQuiet(Tool("trayer"), {}, env_);
            Sleep(500);
        }
        return true;
    }

    QTemporaryDir dir_;
    QString program_, windowName_;
    bool ours_;
    QProcessEnvironment env_;
    QString display_, window_;
    int lock_ = -1;
    std::unique_ptr<QProcess> server_, manager_, tray_, bus_, process_;
};

// A session bus that starts no services: a program finds its bus, and nothing else runs on it.
QString WriteBusConfig(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("bus.conf"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
        "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
        "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
        "</busconfig>\n");
    return path;
}

// Measures every subject over the same stretch.
void Measure(std::vector<std::unique_ptr<TSubject>>& subjects, int seconds) {
    for (auto& s : subjects)
        if (s->Running()) {
            s->Meter = std::make_unique<TUseMeter>(s->Pid());
            s->Meter->Start();
        }
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < seconds * 1000LL) {
        Sleep(500);
        for (auto& s : subjects)
            if (s->Meter)
                s->Meter->Sample();
    }
    for (auto& s : subjects)
        if (s->Meter)
            s->Meter->Stop();
}

// The first subject (this program) beside each other one that was measured.
void Compare(const std::vector<std::unique_ptr<TSubject>>& subjects, int seconds) {
    const TSubject& ours = *subjects.front();
    if (!ours.Meter)
        return;
    const double per10 = 10.0 / seconds;
    for (size_t i = 1; i < subjects.size(); ++i) {
        const TSubject& other = *subjects[i];
        if (!other.Meter)
            continue;
        const double a = ours.Meter->CpuMs() * per10, b = other.Meter->CpuMs() * per10;
        std::printf("  %s beside %s: %.2f against %.2f ms per 10 s (%s), %.1f against %.1f "
                    "wake-ups\n",
                    qPrintable(ours.Name), qPrintable(other.Name), a, b,
                    a < b ? "less" : "not less", double(ours.Meter->Switches()) * per10,
                    double(other.Meter->Switches()) * per10);
    }
}

void Report(const char* title, std::vector<std::unique_ptr<TSubject>>& subjects, int seconds) {
    std::printf("\n%s, %d s:\n", title, seconds);
    std::printf("  %-22s %-17s %12s %14s %14s %8s\n", "program", "window", "cpu ms/10 s",
                "utime+stime", "wake-ups/10 s", "threads");
    const double per10 = 10.0 / seconds;
    for (auto& s : subjects) {
        if (!s->Meter) {
            std::printf("  %-22s not running\n", qPrintable(s->Name));
            continue;
        }
        std::printf("  %-22s %-17s %12.2f %14.1f %14.1f %8d\n", qPrintable(s->Name),
                    qPrintable(s->State), s->Meter->CpuMs() * per10, s->Meter->TickMs() * per10,
                    double(s->Meter->Switches()) * per10, s->Meter->ThreadCount());
    }
    Compare(subjects, seconds);
    for (auto& s : subjects)
        s->Meter.reset();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = 60, shown = 20, settle = 10;
    QString program = QStringLiteral(QUILLET_PROGRAM);
    QList<QPair<QString, QString>> also;
    bool others = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const QString next = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (a == QLatin1String("--seconds") && next.toInt() > 0)
            seconds = args.at(++i).toInt();
        else if (a == QLatin1String("--shown") && next.toInt() >= 0)
            shown = args.at(++i).toInt();
        else if (a == QLatin1String("--quick"))
            seconds = 10, shown = 5, settle = 3;
        else if (a == QLatin1String("--program") && !next.isEmpty())
            program = args.at(++i);
        else if (a == QLatin1String("--also") && next.contains(QLatin1Char('='))) {
            also << qMakePair(next.section(QLatin1Char('='), 0, 0),
                              next.section(QLatin1Char('='), 1));
            ++i;
        } else if (a == QLatin1String("--no-others"))
            others = false;
        else {
            std::fprintf(stderr,
                         "usage: %s [--seconds N] [--shown N] [--quick] [--program PATH] "
                         "[--also NAME=PATH]... [--no-others]\n",
                         argv[0]);
            return 2;
        }
    }

    const bool offscreen = Tool("Xvfb").isEmpty() || Tool("xdotool").isEmpty();
    QTemporaryDir work;
    const QString bus = Tool("dbus-daemon").isEmpty() ? QString() : WriteBusConfig(work);
    std::vector<std::unique_ptr<TSubject>> subjects;
    subjects.push_back(std::make_unique<TSubject>(QStringLiteral("Quillet"), program,
                                                  QStringLiteral("Quillet"), true));
    for (const auto& [name, path] : also)
        subjects.push_back(std::make_unique<TSubject>(name, path, QStringLiteral("Quillet"), true));
    if (others && offscreen)
        std::printf("CherryTree and KAlarm need an X display: not measured\n");
    if (others && !offscreen) {
        if (!Tool("cherrytree").isEmpty())
            subjects.push_back(std::make_unique<TSubject>(QStringLiteral("CherryTree"),
                                                          Tool("cherrytree"),
                                                          QStringLiteral("CherryTree"), false));
        else
            std::printf("cherrytree is not installed: not measured\n");
        if (!Tool("kalarm").isEmpty())
            subjects.push_back(std::make_unique<TSubject>(QStringLiteral("KAlarm"), Tool("kalarm"),
                                                          QStringLiteral("KAlarm"), false));
        else
            std::printf("kalarm is not installed: not measured\n");
    }
    std::printf("display: %s; session bus: %s\n",
                offscreen ? "offscreen (no Xvfb or xdotool), window shown"
                          : qPrintable(QStringLiteral("Xvfb each, window manager %1, tray %2")
                                           .arg(Tool("openbox").isEmpty() ? "none" : "openbox",
                                                Tool("trayer").isEmpty() ? "none" : "trayer")),
                bus.isEmpty() ? "none" : "dbus-daemon each");
    std::fflush(stdout);

    for (auto& s : subjects)
        if (!s->Start(offscreen, bus))
            std::printf("%s did not start\n", qPrintable(s->Name));
    QElapsedTimer waited;
    waited.start();
    std::vector<bool> found(subjects.size(), false);
    while (waited.elapsed() < 40000) {
        bool all = true;
        for (size_t i = 0; i < subjects.size(); ++i) {
            if (!found[i])
                found[i] = subjects[i]->FindWindow();
            all = all && (found[i] || !subjects[i]->Running());
        }
        if (all)
            break;
        Sleep(250);
    }
    for (size_t i = 0; i < subjects.size(); ++i)
        if (!found[i]) {
            std::printf("%s: no window: not measured\n", qPrintable(subjects[i]->Name));
            subjects[i]->Stop();
        }
    Sleep(settle * 1000);

    if (shown > 0 && !offscreen) {
        for (auto& s : subjects)
            s->State = s->WindowState();
        Measure(subjects, shown);
        Report("Window shown, untouched", subjects, shown);
    }
    if (!offscreen) {
        for (auto& s : subjects)
            s->Minimise();
        Sleep(settle * 500);
    }
    for (auto& s : subjects)
        s->State = s->WindowState();
    Measure(subjects, seconds);
    Report(offscreen ? "Idle"
                     : "Window put away (minimised; in the tray where the program has one)",
           subjects, seconds);
    std::printf("\ncpu: scheduler time of all threads; utime+stime: the same in 10 ms ticks; "
                "wake-ups: voluntary and involuntary context switches of all threads\n");
    subjects.clear();
    return 0;
}
