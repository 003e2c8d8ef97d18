#include "serial/linesettings.h"
#include "serial/mscomm.h"

#include <QTest>

using namespace kora;

class LineSettingsTest : public QObject
{
    Q_OBJECT

private slots:
    void aCharacterTakesItsBitsAtTheBaudRate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("microseconds");
        QTest::newRow("the acceptor's line") << "9600, E, 7, 1" << 1041;
        QTest::newRow("8N1 takes as long") << "9600, N, 8, 1" << 1041;
        QTest::newRow("two stop bits") << "9600, E, 8, 2" << 1250;
        QTest::newRow("faster line") << "19200, N, 8, 1" << 520;
    }
    void aCharacterTakesItsBitsAtTheBaudRate()
    {
        QFETCH(QString, text);
        QFETCH(int, microseconds);
        QCOMPARE(int(LineSettings::fromText(text).characterTime().count()), microseconds);
    }

    void goodTextsGiveTheirLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        const int E = QSerialPort::EvenParity, N = QSerialPort::NoParity;
        QTest::newRow("the acceptor's line") << "9600, E, 7, 1" << 9600 << E << 7 << 1;
        QTest::newRow("without blanks") << "9600,E,7,1" << 9600 << E << 7 << 1;
        QTest::newRow("lower-case parity") << "19200,n,8,2" << 19200 << N << 8 << 2;
        QTest::newRow("odd, five bits")
            << " 1200 , O , 5 , 1 " << 1200 << int(QSerialPort::OddParity) << 5 << 1;
        QTest::newRow("mark") << "300,M,6,1" << 300 << int(QSerialPort::MarkParity) << 6 << 1;
        QTest::newRow("space") << "115200,S,8,2" << 115200 << int(QSerialPort::SpaceParity) << 8
                               << 2;
    }
    void goodTextsGiveTheirLine()
    {
        QFETCH(QString, text);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        const LineSettings s = LineSettings::fromText(text);
        QCOMPARE(s.baudRate, baud);
        QCOMPARE(int(s.parity), parity);
        QCOMPARE(int(s.dataBits), dataBits);
        QCOMPARE(int(s.stopBits), stopBits);
    }

    void textsThatCannotBeHonouredAreRefused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("baud only") << "9600";
        QTest::newRow("three fields") << "9600,E,7";
        QTest::newRow("five fields") << "9600,E,7,1,1";
        QTest::newRow("baud not a number") << "fast,E,7,1";
        QTest::newRow("baud zero") << "0,E,7,1";
        QTest::newRow("negative baud") << "-9600,E,7,1";
        QTest::newRow("baud the driver has no setting for") << "9601,E,7,1";
        QTest::newRow("unknown parity") << "9600,X,7,1";
        QTest::newRow("parity spelt out") << "9600,Even,7,1";
        QTest::newRow("empty parity") << "9600,,7,1";
        QTest::newRow("four data bits") << "9600,E,4,1";
        QTest::newRow("nine data bits") << "9600,E,9,1";
        QTest::newRow("three stop bits") << "9600,E,7,3";
        QTest::newRow("stop bits zero") << "9600,E,7,0";
#ifndef Q_OS_WIN
        QTest::newRow("one and a half stop bits, not settable here") << "9600,N,5,1.5";
#endif
    }
    void textsThatCannotBeHonouredAreRefused()
    {
        QFETCH(QString, text);
        try {
            LineSettings::fromText(text);
            QFAIL("accepted");
        } catch (const SerialError& e) {
            QCOMPARE(e.number(), int(InvalidPropertyValue));
            QVERIFY2(QString::fromStdString(e.what()).contains(text), e.what());
        }
    }

    void theSerialObjectRefusesABadText()
    {
        MSComm comm;
        comm.setSettings(QStringLiteral("9600, E, 7, 1"));
        QVERIFY_THROWS_EXCEPTION(SerialError, comm.setSettings(QStringLiteral("9600, E, 9, 1")));
    }
};

QTEST_GUILESS_MAIN(LineSettingsTest)
#include "tst_linesettings.moc"
