#include "UntRunAtStartup.h"

#include "common/UntAppDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace {

// Desktop entries quote an Exec path that holds blanks or reserved characters, and write
// '%' (a field code there) as "%%".
QString ExecValue(const QString& rawPath) {
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    QString path = rawPath;
    path.replace(QLatin1Char('%'), QStringLiteral("%%"));
    for (QChar c : path)
        if (reserved.contains(c)) {
            QString quoted = path;
            quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
                .replace(QLatin1Char('"'), QStringLiteral("\\\""))
                .replace(QLatin1Char('`'), QStringLiteral("\\`"))
                .replace(QLatin1Char('$'), QStringLiteral("\\$"));
            return QLatin1Char('"') + quoted + QLatin1Char('"');
        }
    return path;
}

QString ExecPath(QString value) {
    value.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
        value.endsWith(QLatin1Char('"'))) {
        value = value.mid(1, value.size() - 2);
        QString plain;
        for (int i = 0; i < value.size(); ++i) {
            if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size())
                ++i;
            plain += value.at(i);
        }
        return plain;
    }
    return value;
}

// The icon a desktop entry of this copy names. An installed copy has "quillet" in the icon
// theme; a copy run from a plain folder has none, so its icons are put into the user's icon
// folder and the entry names the largest by its full path.
QString EntryIcon() {
    if (IsInstalledCopy())
        return QStringLiteral("quillet");
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/icons/hicolor/");
    QString largest;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = base + QStringLiteral("%1x%1/apps/quillet.png").arg(size);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
        if (!QFile::copy(QStringLiteral(":/icons/quillet-%1.png").arg(size), path))
            continue;
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
        largest = path;
    }
    return largest.isEmpty() ? QStringLiteral("quillet") : largest;
}

} // namespace

QString ReadRunAtStartup(const QString& name) {
    QFile file(RunAtStartupEntry(name));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1String("Exec=")))
            return ExecPath(line.mid(5));
    }
    return QString();
}

QString RunAtStartupEntry(const QString& name) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

void SetRunAtStartup(const QString& name, const QString& data, bool enable) {
    const QString entry = RunAtStartupEntry(name);
    if (!enable) {
        QFile::remove(entry);
        return;
    }
    QDir().mkpath(QFileInfo(entry).absolutePath());
    QSaveFile file(entry);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    QTextStream out(&file);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << name << "\n"
        << "Exec=" << ExecValue(data) << "\n"
        << "Icon=" << EntryIcon() << "\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    file.commit();
}

bool RunsAtStartup(const QString& name, const QString& data) {
    return ReadRunAtStartup(name) == data;
}
