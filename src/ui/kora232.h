#pragma once

#include "engine/sessionengine.h"
#include "ui/controlarray.h"

#include <QWidget>
#include <memory>
#include <span>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace kora {

class Frame;
class Line;
class RowPictures;
class Shape;
struct LabelRow;

// The main window. It owns the session engine (and with it the run-state
// record, the serial object and the two timers) and every control, all in
// their creation state once constructed; what the controls do is wired up
// elsewhere. Controls are reached by name,
// array members by name and index; an index that is not a member throws
// std::out_of_range.
class Kora232 : public QWidget
{
    Q_OBJECT

public:
    // The window owns the port for as long as it lives.
    explicit Kora232(std::unique_ptr<SerialPort> port, QWidget* parent = nullptr);
    ~Kora232() override;

    SessionEngine& engine() { return *session; }
    RunState& state() { return session->state(); }
    SerialPort& MSComm1() { return session->port(); }
    QTimer* Timer1() const { return session->pollTimer(); }
    QTimer* Timer2() const { return session->delayTimer(); }

    // What the operator's controls mean, for the handlers: the run shown as
    // running or stopped on the START/STOP button and the first two port
    // buttons; both frames shown or hidden; the poll rate chosen and its
    // text; the Escrow Mode box.
    void ShowRunning(bool running);
    // As the operator presses the START/STOP button, for scripted sessions.
    void PressStartStop();
    void ShowFrames(bool controls, bool monitor);
    int PollRateChosen() const;
    void ShowPollRate(int ms);
    bool EscrowModeChecked() const;
    // Port button n's tooltip and accessible description: its device.
    void ShowPortDevice(int n, const QString& description);

    QLabel* Picture1() const { return picture1; }
    QGroupBox* frmControls() const;
    QGroupBox* frmMonitor() const;
    QPushButton* cmdStartStop() const { return startStop; }

    // Settings & Controls.
    QRadioButton* optCom(int n) const { return portOptions(n); } // 1-8
    QCheckBox* Check1() const { return escrowMode; }
    QScrollBar* hsPoll() const { return pollScroll; }
    QLineEdit* txtPoll() const { return pollText; }
    QLabel* lblCom() const { return comHeading; }
    QLabel* lblPoll() const { return pollHeading; }
    QLabel* lblBill() const { return billHeading; }
    Shape* shapeComPort() const { return comShape; }
    Shape* shapePoll() const { return pollShape; }
    Shape* shapeEnable() const { return enableShape; }
    QCheckBox* chkBill(int i) const { return billChecks(i); } // 0-6: bill i + 1

    // Communication Monitor.
    QLabel* lb0(int i) const { return stateLabels(i); }
    QLabel* lb1(int i) const { return eventLabels(i); }
    QLabel* lb2(int i) const { return faultLabels(i); }
    QLabel* lbD(int i) const { return billLabels(i); }
    QLabel* lbx(int i) const { return cassetteCopy(i); }
    QLineEdit* txBillCount(int n) const { return billCounters(n); } // 1-7
    QLabel* lbOUT(int r) const { return hostRows(r); }
    QLabel* lbIN(int r) const { return replyRows(r); }
    QLabel* lbHOST() const { return hostHeading; }
    QLabel* Label1() const { return replyHeading; }
    Line* Line1() const { return middleLine; }
    Line* Line4() const { return captionLine; }

    // Every index each array has, in ascending order.
    const ControlArray<QRadioButton>& optComArray() const { return portOptions; }
    const ControlArray<QCheckBox>& chkBillArray() const { return billChecks; }
    const ControlArray<QLabel>& lb0Array() const { return stateLabels; }
    const ControlArray<QLabel>& lb1Array() const { return eventLabels; }
    const ControlArray<QLabel>& lb2Array() const { return faultLabels; }
    const ControlArray<QLabel>& lbDArray() const { return billLabels; }
    const ControlArray<QLabel>& lbxArray() const { return cassetteCopy; }
    const ControlArray<QLineEdit>& txBillCountArray() const { return billCounters; }
    const ControlArray<QLabel>& lbOUTArray() const { return hostRows; }
    const ControlArray<QLabel>& lbINArray() const { return replyRows; }

private:
    void buildWindow();
    void buildControlsFrame();
    void buildMonitorFrame();
    void buildIndicators();
    void buildBillColumn();
    void buildHistories();
    // Makes each row's label in the container and files it in its array;
    // with pictures, as history rows that share them.
    void addLabels(std::span<const LabelRow> rows, QWidget* container,
                   const std::shared_ptr<RowPictures>& pictures = {});

    SessionEngine* session = nullptr;

    QLabel* picture1 = nullptr;
    Frame* controlsFrame = nullptr;
    Frame* monitorFrame = nullptr;
    QPushButton* startStop = nullptr;

    ControlArray<QRadioButton> portOptions{"optCom"};
    QCheckBox* escrowMode = nullptr;
    QScrollBar* pollScroll = nullptr;
    QLineEdit* pollText = nullptr;
    QLabel* comHeading = nullptr;
    QLabel* pollHeading = nullptr;
    QLabel* billHeading = nullptr;
    Shape* comShape = nullptr;
    Shape* pollShape = nullptr;
    Shape* enableShape = nullptr;
    ControlArray<QCheckBox> billChecks{"chkBill"};

    ControlArray<QLabel> stateLabels{"lb0"};
    ControlArray<QLabel> eventLabels{"lb1"};
    ControlArray<QLabel> faultLabels{"lb2"};
    ControlArray<QLabel> billLabels{"lbD"};
    ControlArray<QLabel> cassetteCopy{"lbx"};
    ControlArray<QLineEdit> billCounters{"txBillCount"};
    ControlArray<QLabel> hostRows{"lbOUT"};
    ControlArray<QLabel> replyRows{"lbIN"};
    QLabel* hostHeading = nullptr;
    QLabel* replyHeading = nullptr;
    Line* middleLine = nullptr;
    Line* captionLine = nullptr;
};

} // namespace kora
