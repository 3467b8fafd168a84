#include "UntRunAtStartup.h"

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
        << "Icon=quillet\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    file.commit();
}

bool RunsAtStartup(const QString& name, const QString& data) {
    return ReadRunAtStartup(name) == data;
}
