#pragma once

// Paths that an output must leave as they are, each made in a folder of the
// test's own beside a session log: the log under its own and other names, a
// character device, a FIFO and a folder.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTest>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace keptpaths {

enum Kind { LogItself, LogByHardLink, LogBySymlink, LogThroughFolders, Device, Fifo, Folder };

// The table's columns: what to make, and the words the refusal gives, LOG
// standing for the log's path.
inline void AddRows()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("words");
    QTest::newRow("the log by its own name") << int(LogItself) << "it is the session log itself";
    QTest::newRow("the log by a hard link")
        << int(LogByHardLink) << "it is the session log LOG under another name";
    QTest::newRow("the log by a symbolic link")
        << int(LogBySymlink) << "it is the session log LOG under another name";
    QTest::newRow("the log through other folders")
        << int(LogThroughFolders) << "it is the session log LOG under another name";
    QTest::newRow("a character device")
        << int(Device) << "it is a character device, not a regular file";
    QTest::newRow("a FIFO") << int(Fifo) << "it is a FIFO, not a regular file";
    QTest::newRow("a folder") << int(Folder) << "it is a folder, not a regular file";
}

// The path of `kind` in `dir`, beside the log `log`; empty when it cannot be
// made (mknod needs the privilege to make devices).
inline QString Make(const QDir& dir, const QString& log, int kind)
{
    const QString path = dir.filePath(QStringLiteral("kept"));
    const QByteArray name = QFile::encodeName(path);
    switch (kind) {
    case LogItself:
        return log;
    case LogByHardLink:
        return ::link(QFile::encodeName(log).constData(), name.constData()) == 0 ? path : QString();
    case LogBySymlink:
        return QFile::link(log, path) ? path : QString();
    case LogThroughFolders:
        return dir.mkdir(QStringLiteral("x")) ? dir.filePath("x/../" + QFileInfo(log).fileName())
                                              : QString();
    case Device: // the numbers of /dev/null: harmless, should it be written after all
        return ::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0 ? path : QString();
    case Fifo:
        return ::mkfifo(name.constData(), 0600) == 0 ? path : QString();
    default:
        return dir.mkdir(QStringLiteral("kept")) ? path : QString();
    }
}

// What stands at a path, the path itself and not what a link leads to: its
// device, inode and type, and a regular file's content.
inline QString StateOf(const QString& path)
{
    struct stat st = {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    QFile file(path);
    const QByteArray content =
        S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return QStringLiteral("device %1 inode %2 type %3 content %4")
        .arg(st.st_dev)
        .arg(st.st_ino)
        .arg(st.st_mode & S_IFMT, 0, 8)
        .arg(QString::fromLatin1(
            QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()));
}

} // namespace keptpaths
