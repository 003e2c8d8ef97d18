#pragma once

#include "protocol/billcycles.h"
#include "record/linkstats.h"

#include <QString>
#include <QWidget>
#include <array>
#include <optional>
#include <utility>

class QLabel;
class QTimer;

namespace kora {

// "12.3 ms", or "-" before there is a value.
QString MsText(std::optional<double> ms);

// The link's figures in words, caption and text, in the order the window
// and the report give them; the running time last, given in `running`.
std::array<std::pair<QString, QString>, 9> LinkFigureTexts(const LinkStats& stats,
                                                           const QString& running);

class LinkPlot;

// A small window of its own that shows how the link has fared since START,
// beside it the bills and below them the reply times and recent polls as
// plots, and keeps itself current while it is shown. It only reads the
// figures; closing it changes nothing.
class LinkStatsView : public QWidget
{
    Q_OBJECT

public:
    LinkStatsView(const LinkStats& stats, const BillFigures& bills, QWidget* parent);

    void refresh();
    // The shown value of a row, by its caption; for tests and screen readers.
    QString value(const QString& caption) const;
    // The Bills table's cell, by row ("Bill 1" ... "Bill 7", "Unknown",
    // "Total") and column ("Inserted", "Stacked", ...), or a figure below it
    // ("Acceptance rate", ..., "Jams", "Stacker full", "Failures", "Power-ups").
    QString bills(const QString& row, const QString& column) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    static constexpr int Rows = 9;
    static constexpr int BillRows = 9, BillColumns = 5, BillFiguresBelow = 7;

    QWidget* makeBillsTable();
    void refreshBills();

    const LinkStats& stats;
    QTimer* timer = nullptr;
    std::array<QLabel*, Rows> captions{};
    std::array<QLabel*, Rows> values{};
    const BillFigures& figures;
    std::array<std::array<QLabel*, BillColumns>, BillRows> cells{};
    std::array<QLabel*, BillFiguresBelow> below{};
    LinkPlot* replyTimes = nullptr;
    LinkPlot* timeline = nullptr;
};

} // namespace kora
