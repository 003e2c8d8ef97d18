// One program per device: a second opener is told the device is in use,
// whatever path it takes and whoever it runs as, root included, and leaves
// the holder's exclusive open as it was; a path that leads to no terminal is
// told so in plain words. Runs itself as the other program.
#include "ptypair.h"
#include "serial/mscomm.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kora;

namespace {

// Opens port 1 on `device`; gives "opened" or the error the operator sees.
QString tryOpen(std::unique_ptr<MSComm>& comm, const QString& device)
{
    PortMap ports;
    ports.pin(1, device);
    comm = std::make_unique<MSComm>(ports);
    comm->setSettings(QStringLiteral("9600, E, 7, 1"));
    try {
        comm->open();
        return QStringLiteral("opened");
    } catch (const SerialError& e) {
        return e.describe();
    }
}

QString inUse(const QString& device)
{
    return QStringLiteral("Error 8010: Port 1 (%1) is in use by another program").arg(device);
}

// Whether the terminal's holder has it for itself alone (TIOCEXCL).
bool isExclusive(const QString& device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int exclusive = 0;
    const bool asked = fd >= 0 && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0;
    ::close(fd);
    return asked && exclusive;
}

// The other program: `--try DEVICE` prints what opening gave; `--hold DEVICE`
// opens, prints it, and holds the device until killed.
int runAsOtherProgram(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::unique_ptr<MSComm> comm;
    const QString result = tryOpen(comm, QString::fromLocal8Bit(argv[2]));
    std::printf("%s\n", qPrintable(result));
    std::fflush(stdout);
    if (std::string_view(argv[1]) == "--hold")
        ::pause();
    return 0;
}

// This test program copied where any user may run it.
QString runnableCopy(QTemporaryDir& dir)
{
    const QString copy = dir.filePath(QStringLiteral("other"));
    QFile::copy(QCoreApplication::applicationFilePath(), copy);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    ::chmod(QFile::encodeName(copy).constData(), 0755);
    return copy;
}

} // namespace

class PortLockTest : public QObject
{
    Q_OBJECT

private slots:
    void aDeviceHeldElsewhereIsInUse_data()
    {
        QTest::addColumn<bool>("holderIsOther");
        QTest::addColumn<bool>("contenderIsOther");
        QTest::addColumn<bool>("throughSymlink");
        QTest::addColumn<bool>("unprivileged");
        QTest::newRow("this program twice") << false << false << false << false;
        QTest::newRow("this program twice, through a symlink") << false << false << true << false;
        QTest::newRow("another program holds, through a symlink") << true << false << true << false;
        QTest::newRow("an unprivileged user") << false << true << false << true;
    }
    void aDeviceHeldElsewhereIsInUse()
    {
        QFETCH(bool, holderIsOther);
        QFETCH(bool, contenderIsOther);
        QFETCH(bool, throughSymlink);
        QFETCH(bool, unprivileged);
        if (unprivileged && ::geteuid() != 0)
            QSKIP("switching to an unprivileged user needs root");
        PtyPair pty;
        QTemporaryDir dir;
        const QString program = runnableCopy(dir);
        ::chmod(QFile::encodeName(pty.device).constData(), 0666);
        const QString link = dir.filePath(QStringLiteral("acceptor"));
        QFile::link(pty.device, link);

        std::unique_ptr<MSComm> holder;
        QProcess other;
        if (holderIsOther) {
            other.start(program, {QStringLiteral("--hold"), pty.device});
            QVERIFY(other.waitForReadyRead(5000));
            QCOMPARE(other.readLine().trimmed(), QByteArray("opened"));
        } else {
            QCOMPARE(tryOpen(holder, pty.device), QStringLiteral("opened"));
        }

        const QString path = throughSymlink ? link : pty.device;
        QString result;
        if (contenderIsOther) {
            QStringList arguments{QStringLiteral("--try"), path};
            if (unprivileged)
                arguments =
                    QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} +
                    arguments;
            other.start(unprivileged ? QStringLiteral("setpriv") : program, arguments);
            QVERIFY(other.waitForFinished(5000));
            result = QString::fromLocal8Bit(other.readAllStandardOutput()).trimmed();
        } else {
            std::unique_ptr<MSComm> contender;
            result = tryOpen(contender, path);
        }
        QCOMPARE(result, inUse(path));
        // Root opens a terminal held exclusively all the same, so a refused
        // root program must not end the holder's exclusive use on its way out.
        QVERIFY2(isExclusive(pty.device), "the holder lost its exclusive open");
        if (holderIsOther) {
            other.kill();
            other.waitForFinished();
        }
    }

    void aUserWithoutPermissionIsToldTheGroupToJoin()
    {
        if (::geteuid() != 0)
            QSKIP("switching to an unprivileged user needs root");
        PtyPair pty;
        QTemporaryDir dir;
        const QString program = runnableCopy(dir);
        ::chmod(QFile::encodeName(pty.device).constData(), 0660);
        QProcess other;
        other.start(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                program, "--try", pty.device});
        QVERIFY(other.waitForFinished(5000));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(pty.device).constData(), &st), 0);
        const QString group = QString::fromLocal8Bit(::getgrgid(st.st_gid)->gr_name);
        QCOMPARE(QString::fromLocal8Bit(other.readAllStandardOutput()).trimmed(),
                 QStringLiteral("Error 8010: Port 1 (%1) cannot be opened: permission denied "
                                "(the user needs to be in the group %2, which owns the device: "
                                "sudo usermod -aG %2 \"$USER\", then log in again)")
                     .arg(pty.device, group));
    }

    void aKilledHolderLeavesTheDeviceFree()
    {
        PtyPair pty;
        QTemporaryDir dir;
        QProcess holder;
        holder.start(runnableCopy(dir), {QStringLiteral("--hold"), pty.device});
        QVERIFY(holder.waitForReadyRead(5000));
        ::kill(pid_t(holder.processId()), SIGKILL);
        QVERIFY(holder.waitForFinished(5000));
        std::unique_ptr<MSComm> comm;
        QCOMPARE(tryOpen(comm, pty.device), QStringLiteral("opened"));
    }

    void whatIsNoTerminalIsNotASerialPort_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a regular file") << "file";
        QTest::newRow("a FIFO") << "fifo";
        QTest::newRow("/dev/null") << "null";
    }
    void whatIsNoTerminalIsNotASerialPort()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QString path = dir.filePath(kind);
        if (kind == QLatin1String("file")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            path = QStringLiteral("/dev/null");
        }
        std::unique_ptr<MSComm> comm;
        QCOMPARE(tryOpen(comm, path),
                 QStringLiteral("Error 8006: Port 1 (%1) is not a serial port").arg(path));
    }
};

int main(int argc, char** argv)
{
    if (argc == 3 &&
        (std::string_view(argv[1]) == "--try" || std::string_view(argv[1]) == "--hold"))
        return runAsOtherProgram(argc, argv);
    QCoreApplication app(argc, argv);
    PortLockTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_portlock.moc"
