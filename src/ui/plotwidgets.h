#pragma once

#include "record/linkstats.h"

#include <QString>
#include <QWidget>

namespace kora {

// A plot of the link's figures in a window, drawn by the same code as the
// printed report, and told in words to screen readers: how long the
// acceptor takes to answer since START, or the polls of the last ten
// minutes by outcome and when the device was away.
class LinkPlot : public QWidget
{
    Q_OBJECT

public:
    enum class Kind { ReplyTimes, Timeline };

    LinkPlot(const LinkStats& stats, Kind kind, QWidget* parent);

    // Repaints, and renews the accessible description when it has changed.
    void refresh();
    QSize sizeHint() const override { return {560, 200}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string describe() const;

    const LinkStats& stats;
    Kind kind = Kind::ReplyTimes;
};

} // namespace kora
