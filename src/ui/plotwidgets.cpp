#include "ui/plotwidgets.h"

#include "ui/plots.h"

#include <QPainter>

namespace kora {

LinkPlot::LinkPlot(const LinkStats& linkStats, Kind plotKind, QWidget* parent)
    : QWidget(parent), stats(linkStats), kind(plotKind)
{
    const bool replies = kind == Kind::ReplyTimes;
    setObjectName(replies ? QStringLiteral("replyTimePlot") : QStringLiteral("timelinePlot"));
    setAccessibleName(replies ? QStringLiteral("Reply times")
                              : QStringLiteral("Polls over the last 10 minutes"));
    setMinimumSize(360, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    refresh();
}

std::string LinkPlot::describe() const
{
    return kind == Kind::ReplyTimes ? stats.histogram().describe() : stats.timeline().describe();
}

void LinkPlot::refresh()
{
    const QString words = QString::fromStdString(describe());
    if (words != accessibleDescription())
        setAccessibleDescription(words);
    update();
}

void LinkPlot::paintEvent(QPaintEvent* /*event*/)
{
    QPainter p(this);
    if (kind == Kind::ReplyTimes)
        PaintReplyHistogram(p, QRectF(rect()), stats.histogram());
    else
        PaintTimeline(p, QRectF(rect()), stats.timeline());
}

} // namespace kora
