#include "ui/kora232.h"

#include "ui/appearance.h"
#include "ui/widgets.h"

#include <QCheckBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QResource>
#include <QScrollBar>
#include <cstring>

namespace kora {

namespace {
constexpr int ClientWidth = 641;  // 9615 twips
constexpr int ClientHeight = 434; // 6510 twips

// The banner and the icon are built in as raw pixels (width, height, then
// RGB32 rows), so that the first frame needs no image decoder: finding Qt's
// image plugins and decoding PNG took a tenth of the launch. Stored
// uncompressed, the rows are read where the program's read-only data holds
// them; a copy took some fifty fresh pages at every launch.
QImage Artwork(const QString& path)
{
    const QResource resource(path);
    const QByteArray bytes = resource.uncompressedData();
    quint32 size[2] = {};
    if (bytes.size() < qsizetype(sizeof size))
        return {};
    std::memcpy(size, bytes.constData(), sizeof size);
    const int width = int(size[0]);
    const int height = int(size[1]);
    const qsizetype rowBytes = qsizetype(width) * 4;
    const qsizetype pixelBytes = bytes.size() - qsizetype(sizeof size);
    if (width <= 0 || height <= 0 || pixelBytes % rowBytes != 0 || pixelBytes / rowBytes != height)
        return {};
    const auto* rows = reinterpret_cast<const uchar*>(bytes.constData() + sizeof size);
    const QImage inPlace(rows, width, height, rowBytes, QImage::Format_RGB32);
    // Rows anywhere else (compressed, or not aligned for 32-bit pixels) die
    // with this function's copy of them, or cannot be read in place.
    const bool kept = resource.compressionAlgorithm() == QResource::NoCompression &&
                      reinterpret_cast<quintptr>(rows) % alignof(quint32) == 0;
    return kept ? inPlace : inPlace.copy();
}
} // namespace

Kora232::Kora232(std::unique_ptr<SerialPort> port, QWidget* parent)
    : QWidget(parent), session(new SessionEngine(std::move(port), this))
{
    setObjectName(QStringLiteral("Kora232"));
    setWindowTitle(QStringLiteral("RS-232 Interface Program  -  Kora232  Ver. 1.3"));
    setWindowIcon(QIcon(QPixmap::fromImage(Artwork(QStringLiteral(":/kora232/kora232.rgb32")))));
    setFont(WindowFont());
    SetBackColor(this, QColor(colour::LightBlue));
    resize(ClientWidth, ClientHeight);

    buildWindow();
    buildControlsFrame();
    buildMonitorFrame();

    // Both run from creation on; their first ticks come once the event loop
    // runs, which is after start-up.
    session->StartTimers();
}

Kora232::~Kora232() = default;

void Kora232::ShowRunning(bool running)
{
    startStop->setText(running ? QStringLiteral("STOP") : QStringLiteral("START"));
    SetBackColor(startStop, QColor(running ? colour::Red : colour::Green));
    optCom(1)->setVisible(!running);
    optCom(2)->setVisible(!running);
}

void Kora232::PressStartStop()
{
    startStop->click();
}

void Kora232::ShowFrames(bool controls, bool monitor)
{
    controlsFrame->setVisible(controls);
    monitorFrame->setVisible(monitor);
}

int Kora232::PollRateChosen() const
{
    return pollScroll->value();
}

// A blank stands where a minus sign would.
void Kora232::ShowPollRate(int ms)
{
    pollText->setText(QStringLiteral(" %1 ms").arg(ms));
}

void Kora232::ShowPortDevice(int n, const QString& description)
{
    const QString text = QStringLiteral("Port %1: %2").arg(n).arg(description);
    optCom(n)->setToolTip(text);
    optCom(n)->setAccessibleDescription(text);
}

bool Kora232::EscrowModeChecked() const
{
    return escrowMode->isChecked();
}

QGroupBox* Kora232::frmControls() const
{
    return controlsFrame;
}
QGroupBox* Kora232::frmMonitor() const
{
    return monitorFrame;
}

void Kora232::buildWindow()
{
    picture1 = new QLabel(this);
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setGeometry(TwipsRect(300, 0, 8955, 1275));
    picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture1->setPixmap(QPixmap::fromImage(Artwork(QStringLiteral(":/kora232/banner.rgb32"))));
    SetBackColor(picture1, QColor(colour::LightBlue));

    controlsFrame = new Frame(QStringLiteral("Settings && Controls"), this);
    controlsFrame->setObjectName(QStringLiteral("frmControls"));
    controlsFrame->setGeometry(TwipsRect(0, 1440, 1815, 5055));
    SetBackColor(controlsFrame, QColor(colour::PaleYellow));
    SetForeColor(controlsFrame, QColor(colour::Black));

    // The blanks put the words near the middle of the frame's top edge.
    const QString monitorCaption =
        QString(61, u' ') + QStringLiteral("Communication  Monitor") + QString(71, u' ');
    monitorFrame = new Frame(monitorCaption, this);
    monitorFrame->setObjectName(QStringLiteral("frmMonitor"));
    monitorFrame->setGeometry(TwipsRect(1800, 1440, 7815, 5055));
    SetBackColor(monitorFrame, QColor(colour::Black));
    SetForeColor(monitorFrame, QColor(colour::White));

    // A child of the window, not of the monitor frame, and made after it so
    // that it floats over the frame.
    startStop = new FaceButton(QStringLiteral("START"), this);
    startStop->setObjectName(QStringLiteral("cmdStartStop"));
    startStop->setGeometry(TwipsRect(4560, 3720, 1335, 375));
    startStop->setFont(BoldFont());
    SetBackColor(startStop, QColor(colour::Green));
    SetForeColor(startStop, QColor(colour::Black));
}

} // namespace kora
