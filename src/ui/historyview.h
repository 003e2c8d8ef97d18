#pragma once

#include <QWidget>

class QComboBox;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace kora {

class PollHistory;

// A window of its own with the polls of this run, a row each, newest at the
// bottom; it follows the newest unless paused or scrolled up. It shows all
// polls, the failed ones or those that changed something, and copies the
// selected rows. Closing it changes nothing: the history goes on filling.
class HistoryView : public QWidget
{
    Q_OBJECT

public:
    enum Filter { AllPolls, FailedPolls, ChangedPolls };

    HistoryView(PollHistory& history, QWidget* parent);
    // The table goes after this object: its scroll bar must not reach back.
    ~HistoryView() override;

    QTableView* table() const { return view; }
    void setFilter(Filter filter);
    // Paused, the rows stand still while polling goes on; released, they
    // catch up with the newest.
    void setPaused(bool paused);
    bool isPaused() const;
    // The selected rows, oldest first, a tab between columns, with a header
    // line; and the same put on the clipboard.
    QString selectedText() const;
    void copySelection() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeControls();
    void makeTable();
    void fitColumns();
    void followNewest();
    void showFrozen();

    PollHistory& live;
    PollHistory* frozen = nullptr; // what a paused view shows
    QSortFilterProxyModel* shown = nullptr;
    QTableView* view = nullptr;
    QComboBox* filter = nullptr;
    QPushButton* pause = nullptr;
    QPushButton* copy = nullptr;
    bool following = true;
};

} // namespace kora
