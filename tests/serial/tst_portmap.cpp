#include "serial/portmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kora;

class PortMapTest : public QObject
{
    Q_OBJECT

private slots:
    void systemPortsAreOrderedUsbFirstThenByNaturalName_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("ordered");
        const auto list = [](const char* text) {
            return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        };
        QTest::newRow("nothing listed") << QStringList() << QStringList();
        QTest::newRow("a USB adapter goes ahead of a built-in port")
            << list("ttyS0 ttyUSB0") << list("ttyUSB0 ttyS0");
        QTest::newRow("numbers compare as numbers")
            << list("ttyS10 ttyS2 ttyS1") << list("ttyS1 ttyS2 ttyS10");
        QTest::newRow("ACM and USB adapters share the first group")
            << list("ttyS0 ttyUSB1 ttyAMA0 ttyACM0 ttyUSB0")
            << list("ttyACM0 ttyUSB0 ttyUSB1 ttyAMA0 ttyS0");
        QTest::newRow("ttyUSB10 after ttyUSB9")
            << list("ttyUSB10 ttyUSB9 ttyS3") << list("ttyUSB9 ttyUSB10 ttyS3");
        QTest::newRow("macOS adapters first")
            << list("cu.Bluetooth-Incoming-Port tty.usbserial-1410 cu.usbserial-1410")
            << list("cu.usbserial-1410 tty.usbserial-1410 cu.Bluetooth-Incoming-Port");
        QTest::newRow("leading zeros do not reorder")
            << list("ttyS010 ttyS9") << list("ttyS9 ttyS010");
    }
    void systemPortsAreOrderedUsbFirstThenByNaturalName()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, ordered);
        QCOMPARE(PortMap::orderedSystemPorts(names), ordered);
    }

    void portArgumentsPinNumbersOrSayWhatIsWrong_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("a USB adapter") << "1=/dev/ttyUSB0" << 1 << "/dev/ttyUSB0"
                                       << "";
        QTest::newRow("port 8") << "8=/dev/ttyS3" << 8 << "/dev/ttyS3"
                                << "";
        QTest::newRow("a path with a blank") << "2=/tmp/my pty" << 2 << "/tmp/my pty"
                                             << "";
        QTest::newRow("an equals sign in the path") << "3=/tmp/a=b" << 3 << "/tmp/a=b"
                                                    << "";
        QTest::newRow("port 0") << "0=/dev/ttyS0" << 0 << ""
                                << "1 to 8";
        QTest::newRow("port 9") << "9=/dev/ttyS0" << 0 << ""
                                << "1 to 8";
        QTest::newRow("not a number") << "one=/dev/ttyS0" << 0 << ""
                                      << "1 to 8";
        QTest::newRow("a sign") << "+1=/dev/ttyS0" << 0 << ""
                                << "1 to 8";
        QTest::newRow("a blank before the number") << " 1=/dev/ttyS0" << 0 << ""
                                                   << "1 to 8";
        QTest::newRow("no number") << "=/dev/ttyS0" << 0 << ""
                                   << "1 to 8";
        QTest::newRow("no device") << "1=" << 0 << ""
                                   << "no device";
        QTest::newRow("no equals sign") << "/dev/ttyUSB0" << 0 << ""
                                        << "N=DEVICE";
        QTest::newRow("empty") << "" << 0 << ""
                               << "N=DEVICE";
    }
    void portArgumentsPinNumbersOrSayWhatIsWrong()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        QFETCH(QString, device);
        QFETCH(QString, complaint);
        PortMap map;
        QString error;
        const bool ok = map.pinFromArgument(text, &error);
        QCOMPARE(ok, complaint.isEmpty());
        if (ok) {
            QCOMPARE(map.deviceFor(number), device);
            QVERIFY(error.isEmpty());
        } else {
            QVERIFY2(error.contains(complaint), qPrintable(error));
            QVERIFY2(error.contains(text), qPrintable(error));
        }
    }

    void aPinnedNumberWinsAndLeavesTheOthersAlone()
    {
        PortMap map;
        const QString listedSecond = map.deviceFor(2);
        map.pin(1, QStringLiteral("/dev/pts/7"));
        QCOMPARE(map.deviceFor(1), QStringLiteral("/dev/pts/7"));
        QCOMPARE(map.deviceFor(2), listedSecond);
        QVERIFY(map.pinFromArgument(QStringLiteral("1=/dev/ttyUSB3")));
        QCOMPARE(map.deviceFor(1), QStringLiteral("/dev/ttyUSB3"));
    }

    void numbersOutsideOneToEightHaveNoDevice()
    {
        PortMap map;
        map.pin(9, QStringLiteral("/dev/ttyS9"));
        QVERIFY(map.deviceFor(0).isEmpty());
        QVERIFY(map.deviceFor(9).isEmpty());
    }

    void unpinnedNumbersCountTheSystemListing()
    {
        QStringList names;
        QMap<QString, QString> locations;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            names << info.portName();
            locations.insert(info.portName(), info.systemLocation());
        }
        names = PortMap::orderedSystemPorts(names);
        PortMap map;
        for (int n = 1; n <= 8; ++n)
            QCOMPARE(map.deviceFor(n), n <= names.size() ? locations[names[n - 1]] : QString());
    }

    // A pinned path that names nothing says so, before START fails on it.
    void aLookReadsTheListOnceAndDescribesEachPortFromIt()
    {
        QTemporaryDir dir;
        const QString pty = dir.filePath(QStringLiteral("pty"));
        QVERIFY(QFile(pty).open(QIODevice::WriteOnly));
        const QString gone = dir.filePath(QStringLiteral("gone"));
        int listings = 0;
        PortMap map([&listings] {
            ++listings;
            return QList<ListedPort>{
                {"ttyS0", "/dev/ttyS0", "", "", ""},
                {"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A10K2"}};
        });
        map.pin(3, pty);
        map.pin(4, gone);
        QCOMPARE(map.deviceFor(3), pty);
        QCOMPARE(listings, 0); // a pinned device needs no list
        QCOMPARE(map.table(), QStringLiteral("port 1  /dev/ttyUSB0: FT232R USB UART, FTDI, "
                                             "serial A10K2\n"
                                             "port 2  /dev/ttyS0\n"
                                             "port 3  %1: pinned with --port\n"
                                             "port 4  %2: pinned with --port; no such file\n"
                                             "port 5  no device\n"
                                             "port 6  no device\n"
                                             "port 7  no device\n"
                                             "port 8  no device\n")
                                  .arg(pty, gone));
        QCOMPARE(listings, 1);
        const PortLook look = map.look();
        for (int n = 1; n <= 8; ++n)
            look.describe(n);
        QCOMPARE(listings, 2);
    }

    // Devices stand in for themselves as files; the system's stable links
    // are in a folder of the test's own.
    void anAdapterIsKnownByWhatTellsItFromAnyOther_data()
    {
        QTest::addColumn<QString>("given"); // under the test's folder
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QString>("byId"); // the name --list-ports adds, if any

        const QString byId = "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K2-if00-port0";
        QTest::newRow("a USB adapter by its by-id name: vendor, product and serial number")
            << byId << "usb 0403:6001 serial A10K2" << byId;
        QTest::newRow("the same adapter by the kernel's name is the same adapter")
            << "dev/ttyUSB1"
            << "usb 0403:6001 serial A10K2" << byId;
        QTest::newRow("a USB adapter with no serial number: the USB port it is in")
            << "dev/ttyUSB0"
            << "usb 1a86:7523 at pci-0000:00:14.0-usb-0:2:1.0-port0"
            << "";
        QTest::newRow("a pseudo-terminal by a link: the terminal the link leads to")
            << "acceptor"
            << "%1/dev/pts/3"
            << "";
        QTest::newRow("a built-in port: its path") << "dev/ttyS0"
                                                   << "%1/dev/ttyS0"
                                                   << "";
        QTest::newRow("a path that names nothing: as given") << "gone"
                                                             << "%1/gone"
                                                             << "";
    }

    void anAdapterIsKnownByWhatTellsItFromAnyOther()
    {
        QTemporaryDir dir;
        const QString root = QFileInfo(dir.path()).canonicalFilePath();
        QDir(root).mkpath("dev/pts");
        QDir(root).mkpath("serial/by-id");
        QDir(root).mkpath("serial/by-path");
        for (const char* device : {"dev/ttyUSB0", "dev/ttyUSB1", "dev/ttyS0", "dev/pts/3"})
            QVERIFY(QFile(root + '/' + device).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(root + "/dev/ttyUSB1",
                            root + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K2-if00-port0"));
        QVERIFY(QFile::link(root + "/dev/ttyUSB0",
                            root + "/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"));
        QVERIFY(QFile::link(root + "/dev/pts/3", root + "/acceptor"));
        PortMap map(
            [&root] {
                ListedPort noSerial{"ttyUSB0", root + "/dev/ttyUSB0", "USB Serial", "", ""};
                noSerial.usbIds = std::pair(quint16(0x1a86), quint16(0x7523));
                ListedPort ftdi{"ttyUSB1", root + "/dev/ttyUSB1", "FT232R USB UART", "FTDI",
                                "A10K2"};
                ftdi.usbIds = std::pair(quint16(0x0403), quint16(0x6001));
                return QList<ListedPort>{
                    noSerial, ftdi, {"ttyS0", root + "/dev/ttyS0", "", "", ""}};
            },
            root + "/serial");
        QFETCH(QString, given);
        map.pin(1, root + '/' + given);
        QFETCH(QString, identity);
        QCOMPARE(map.identityFor(1), identity.contains("%1") ? identity.arg(root) : identity);
        QFETCH(QString, byId);
        const QString line = map.table().section('\n', 0, 0);
        QCOMPARE(line.endsWith(", " + root + '/' + byId), !byId.isEmpty());
    }

    void helpExplainsNumberingAndPinning()
    {
        const QString help = PortMap::numberingHelp();
        QVERIFY(help.contains(QLatin1String("--port N=DEVICE")));
        QVERIFY(help.contains(QLatin1String("USB")));
        QVERIFY(help.contains(QLatin1String("dialout")));
    }
};

QTEST_GUILESS_MAIN(PortMapTest)
#include "tst_portmap.moc"
