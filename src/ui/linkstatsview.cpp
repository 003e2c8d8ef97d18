#include "ui/linkstatsview.h"

#include "ui/plotwidgets.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

namespace kora {

namespace {

// Twice a second reads as live; more often only costs a repaint of both
// plots and a new account of them for screen readers each time.
constexpr int RefreshMs = 500;

QString duration(double seconds)
{
    const auto s = static_cast<long long>(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

const char* const BillRowNames[] = {"Unknown", "Bill 1", "Bill 2", "Bill 3", "Bill 4",
                                    "Bill 5",  "Bill 6", "Bill 7", "Total"};
const char* const BillColumnNames[] = {"Inserted", "Stacked", "Returned", "Rejected", "Other"};
const char* const BillFigureNames[] = {
    "Acceptance rate", "Bill time, median", "Bill time, maximum", "Jams",
    "Stacker full",    "Failures",          "Power-ups"};

} // namespace

QString MsText(std::optional<double> ms)
{
    return ms ? QStringLiteral("%1 ms").arg(*ms, 0, 'f', 1) : QStringLiteral("-");
}

std::array<std::pair<QString, QString>, 9> LinkFigureTexts(const LinkStats& stats,
                                                           const QString& running)
{
    return {{
        {QStringLiteral("Polls"), QString::number(stats.polls())},
        {QStringLiteral("Good replies"), QString::number(stats.good())},
        {QStringLiteral("No reply"), QString::number(stats.noReply())},
        {QStringLiteral("Checksum errors"), QString::number(stats.checksum())},
        {QStringLiteral("Success rate"),
         QStringLiteral("%1 %").arg(stats.successRate() * 100.0, 0, 'f', 1)},
        {QStringLiteral("Reply time, median"), MsText(stats.medianReplyMs())},
        {QStringLiteral("Reply time, maximum"), MsText(stats.maxReplyMs())},
        {QStringLiteral("Reconnects"), QString::number(stats.reconnects())},
        {QStringLiteral("Running for"), running},
    }};
}

LinkStatsView::LinkStatsView(const LinkStats& linkStats, const BillFigures& bills, QWidget* parent)
    : QWidget(parent, Qt::Window), stats(linkStats), timer(new QTimer(this)), figures(bills),
      replyTimes(new LinkPlot(linkStats, LinkPlot::Kind::ReplyTimes, this)),
      timeline(new LinkPlot(linkStats, LinkPlot::Kind::Timeline, this))
{
    setObjectName(QStringLiteral("linkStatistics"));
    setWindowTitle(QStringLiteral("Link statistics - Kora232"));
    auto* rows = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    rows->addLayout(columns);
    rows->addWidget(replyTimes);
    rows->addWidget(timeline);
    auto* form = new QFormLayout;
    columns->addLayout(form);
    columns->addWidget(makeBillsTable());
    const auto names = LinkFigureTexts(stats, {});
    for (int i = 0; i < Rows; ++i) {
        captions[i] = new QLabel(names[i].first, this);
        values[i] = new QLabel(this);
        values[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        values[i]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000000.0 ms")));
        form->addRow(captions[i], values[i]);
    }
    timer->setInterval(RefreshMs);
    connect(timer, &QTimer::timeout, this, &LinkStatsView::refresh);
    refresh();
}

// Rows for each denomination, one for bills that named none, and the total;
// the acceptance rate, the bill times and the acceptor's events below.
QWidget* LinkStatsView::makeBillsTable()
{
    auto* box = new QGroupBox(QStringLiteral("Bills"), this);
    box->setObjectName(QStringLiteral("bills"));
    auto* grid = new QGridLayout(box);
    for (int c = 0; c < BillColumns; ++c)
        grid->addWidget(new QLabel(QString::fromLatin1(BillColumnNames[c]), box), 0, c + 1);
    for (int r = 0; r < BillRows; ++r) {
        grid->addWidget(new QLabel(QString::fromLatin1(BillRowNames[r]), box), r + 1, 0);
        for (int c = 0; c < BillColumns; ++c) {
            cells[r][c] = new QLabel(box);
            cells[r][c]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            grid->addWidget(cells[r][c], r + 1, c + 1);
        }
    }
    for (int i = 0; i < BillFiguresBelow; ++i) {
        const int row = BillRows + 1 + i;
        grid->addWidget(new QLabel(QString::fromLatin1(BillFigureNames[i]), box), row, 0, 1, 3);
        below[i] = new QLabel(box);
        below[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(below[i], row, 3, 1, 3);
    }
    return box;
}

void LinkStatsView::refreshBills()
{
    for (int r = 0; r < BillRows; ++r) {
        const BillFigures::Row row = r < 8 ? figures.of(r) : figures.total();
        const long values[BillColumns] = {row.inserted, row.stacked, row.returned, row.rejected,
                                          row.other};
        for (int c = 0; c < BillColumns; ++c)
            cells[r][c]->setText(QString::number(values[c]));
    }
    const std::optional<double> rate = figures.acceptancePercent();
    below[0]->setText(rate ? QStringLiteral("%1 %").arg(*rate, 0, 'f', 1) : QStringLiteral("-"));
    below[1]->setText(MsText(figures.medianCycleMs()));
    below[2]->setText(MsText(figures.maxCycleMs()));
    const AcceptorEvents& events = figures.events();
    const long counts[] = {events.jams, events.stackerFull, events.failures, events.powerUps};
    for (int i = 0; i < 4; ++i)
        below[3 + i]->setText(QString::number(counts[i]));
}

QString LinkStatsView::bills(const QString& row, const QString& column) const
{
    for (int r = 0; r < BillRows; ++r)
        for (int c = 0; c < BillColumns; ++c)
            if (row == QLatin1String(BillRowNames[r]) &&
                column == QLatin1String(BillColumnNames[c]))
                return cells[r][c]->text();
    for (int i = 0; i < BillFiguresBelow; ++i)
        if (row == QLatin1String(BillFigureNames[i]))
            return below[i]->text();
    return {};
}

void LinkStatsView::refresh()
{
    refreshBills();
    replyTimes->refresh();
    timeline->refresh();
    const auto texts =
        LinkFigureTexts(stats, duration(stats.runningSeconds(LinkStats::Clock::now())));
    for (int i = 0; i < Rows; ++i)
        values[i]->setText(texts[i].second);
}

QString LinkStatsView::value(const QString& caption) const
{
    for (int i = 0; i < Rows; ++i)
        if (captions[i]->text() == caption)
            return values[i]->text();
    return {};
}

void LinkStatsView::showEvent(QShowEvent* event)
{
    refresh();
    timer->start();
    QWidget::showEvent(event);
}

void LinkStatsView::hideEvent(QHideEvent* event)
{
    timer->stop();
    QWidget::hideEvent(event);
}

} // namespace kora
