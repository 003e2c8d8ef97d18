#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

// Qt SerialPort's lock file for a port the process `pid` holds, if there is
// one: it names the holder's process number on its first line.
inline QString lockFileOf(qint64 pid)
{
    for (const char* folder : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks", "/tmp"})
        for (const QFileInfo& f : QDir(folder).entryInfoList({"LCK..*"}, QDir::Files)) {
            QFile file(f.filePath());
            if (file.open(QIODevice::ReadOnly) && file.readLine().trimmed().toLongLong() == pid)
                return f.filePath();
        }
    return {};
}
