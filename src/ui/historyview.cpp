#include "ui/historyview.h"

#include "ui/pollhistory.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>
#include <vector>

namespace kora {

namespace {

// Each filter's words in the box, the column it reads and what that column
// must hold for a row to show.
struct FilterChoice
{
    const char* words;
    int column;
    const char* pattern;
};

const FilterChoice Filters[] = {
    {"All polls", PollHistory::Time, ""},
    {"Failed polls", PollHistory::Outcome, "^(?!good$)"},
    {"Polls that changed something", PollHistory::Changed, "."},
};

} // namespace

HistoryView::HistoryView(PollHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), live(history), frozen(new PollHistory(this)),
      shown(new QSortFilterProxyModel(this)), view(new QTableView(this))
{
    setObjectName(QStringLiteral("history"));
    setWindowTitle(QStringLiteral("History - Kora232"));
    shown->setSourceModel(&live);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(makeControls());
    makeTable();
    layout->addWidget(view);
    fitColumns();
}

QWidget* HistoryView::makeControls()
{
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("&Show:"), bar);
    filter = new QComboBox(bar);
    filter->setObjectName(QStringLiteral("historyFilter"));
    filter->setAccessibleName(QStringLiteral("Show"));
    for (const FilterChoice& choice : Filters)
        filter->addItem(QString::fromLatin1(choice.words));
    label->setBuddy(filter);
    connect(filter, &QComboBox::currentIndexChanged, this,
            [this](int i) { setFilter(static_cast<Filter>(i)); });

    pause = new QPushButton(QStringLiteral("&Pause"), bar);
    pause->setObjectName(QStringLiteral("historyPause"));
    pause->setCheckable(true);
    pause->setAccessibleName(QStringLiteral("Pause"));
    pause->setToolTip(QStringLiteral("Hold the rows still while polling goes on"));
    connect(pause, &QPushButton::toggled, this, &HistoryView::setPaused);

    copy = new QPushButton(QStringLiteral("&Copy"), bar);
    copy->setObjectName(QStringLiteral("historyCopy"));
    copy->setAccessibleName(QStringLiteral("Copy selected rows"));
    copy->setToolTip(QStringLiteral("Copy the selected rows, tab-separated (Ctrl+C)"));
    connect(copy, &QPushButton::clicked, this, &HistoryView::copySelection);

    row->addWidget(label);
    row->addWidget(filter);
    row->addStretch();
    row->addWidget(pause);
    row->addWidget(copy);
    return bar;
}

void HistoryView::makeTable()
{
    view->setObjectName(QStringLiteral("historyTable"));
    view->setAccessibleName(QStringLiteral("Polls"));
    view->setModel(shown);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    // Tab leaves the table for the controls, as in any form.
    view->setTabKeyNavigation(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    view->installEventFilter(this);

    // Following means staying at the bottom as rows come; scrolling up stops
    // it, scrolling back down starts it again.
    QScrollBar* bar = view->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this,
            [this, bar](int value) { following = value == bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (following)
            bar->setValue(maximum);
    });
}

HistoryView::~HistoryView()
{
    view->verticalScrollBar()->disconnect(this);
}

// Each column is as wide as what it holds at its widest, but the changes,
// which can run long: they take what is left of a window that opens within a
// 1280 x 800 screen, frame and panel included (room for a counted bill's
// count and total), end in "…" when they outrun it, and their tooltip gives
// the rest.
void HistoryView::fitColumns()
{
    const QFontMetrics text(view->font());
    const QFontMetrics hex(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const std::pair<const QFontMetrics*, QString> widest[PollHistory::ColumnCount] = {
        {&text, QStringLiteral("00:00:00.000")},
        {&text, QStringLiteral("checksum error")},
        {&hex, QStringLiteral("00 00 00 00 00 00 00 00")},
        {&hex, QStringLiteral("00 00 00 00 00 00 00 00 00 00 00")},
        {&text, QStringLiteral("Accepting Cassette")},
        {&text, QStringLiteral("+Stacked -Stacking, bill 3 stacked, counted, count 12, total 40")},
    };
    constexpr int Padding = 24;
    int total = 0;
    for (int c = 0; c < PollHistory::ColumnCount; ++c) {
        const int width = widest[c].first->horizontalAdvance(widest[c].second) + Padding;
        if (c != PollHistory::Changed) // the last column stretches to the edge
            view->setColumnWidth(c, width);
        total += width;
    }
    constexpr QSize Opening(1240, 480); // a 1280 x 800 screen less the frame and a panel
    const QMargins margins = layout()->contentsMargins();
    const int width = total + margins.left() + margins.right() + 2 * view->frameWidth() +
                      view->verticalScrollBar()->sizeHint().width();
    resize(std::min(width, Opening.width()), Opening.height());
}

void HistoryView::setFilter(Filter choice)
{
    const FilterChoice& f = Filters[choice];
    shown->setFilterKeyColumn(f.column);
    shown->setFilterRegularExpression(QString::fromLatin1(f.pattern));
    if (filter->currentIndex() != choice)
        filter->setCurrentIndex(choice);
    followNewest();
}

void HistoryView::followNewest()
{
    following = true;
    view->scrollToBottom();
}

bool HistoryView::isPaused() const
{
    return shown->sourceModel() == frozen;
}

void HistoryView::setPaused(bool paused)
{
    if (paused == isPaused())
        return;
    if (pause->isChecked() != paused) {
        pause->setChecked(paused); // back here through its toggled()
        return;
    }
    if (paused) {
        showFrozen();
        return;
    }
    shown->setSourceModel(&live);
    frozen->clear(); // no second copy of the history while it runs
    followNewest();
}

// A copy of the rows shown, which polls no longer reach: where the view
// stood, what was selected and the current row carry over as they are.
void HistoryView::showFrozen()
{
    frozen->copyFrom(live);
    const int top = view->verticalScrollBar()->value();
    const QModelIndex current = view->currentIndex();
    const int currentRow = current.row(), currentColumn = current.column();
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange& r : view->selectionModel()->selection())
        ranges.emplace_back(r.top(), r.bottom());

    shown->setSourceModel(frozen);
    QItemSelection selection;
    for (const auto& [first, last] : ranges)
        selection.select(shown->index(first, 0), shown->index(last, PollHistory::Changed));
    view->selectionModel()->select(selection, QItemSelectionModel::Select);
    if (currentRow >= 0)
        view->selectionModel()->setCurrentIndex(shown->index(currentRow, currentColumn),
                                                QItemSelectionModel::NoUpdate);
    view->verticalScrollBar()->setValue(top);
}

// Hidden, the view lets go of the live history: each poll's row would reach
// the table all the same, and once the history is full every oldest row
// leaving costs the table a pass over all the rest. Shown again, it follows
// the newest.
void HistoryView::hideEvent(QHideEvent* event)
{
    if (!isPaused())
        shown->setSourceModel(nullptr);
    QWidget::hideEvent(event);
}

void HistoryView::showEvent(QShowEvent* event)
{
    if (!shown->sourceModel()) {
        shown->setSourceModel(&live);
        followNewest();
    }
    QWidget::showEvent(event);
}

QString HistoryView::selectedText() const
{
    QModelIndexList rows = view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList cells;
    for (int c = 0; c < PollHistory::ColumnCount; ++c)
        cells << shown->headerData(c, Qt::Horizontal).toString();
    QString text = cells.join(u'\t') + u'\n';
    for (const QModelIndex& row : rows) {
        cells.clear();
        for (int c = 0; c < PollHistory::ColumnCount; ++c)
            cells << shown->index(row.row(), c).data().toString();
        text += cells.join(u'\t') + u'\n';
    }
    return text;
}

void HistoryView::copySelection() const
{
    QApplication::clipboard()->setText(selectedText());
}

// Ctrl+C in the table copies whole rows, as Copy does, not the one cell an
// item view would.
bool HistoryView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copySelection();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace kora
