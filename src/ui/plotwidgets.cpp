#include "ui/plotwidgets.h"

#include "ui/plots.h"

#include <QPainter>

namespace kora {

LinkPlot::LinkPlot(const LinkStats& linkStats, const char* objectName, const char* accessibleName,
                   QWidget* parent)
    : QWidget(parent), stats(linkStats)
{
    setObjectName(QString::fromLatin1(objectName));
    setAccessibleName(QString::fromLatin1(accessibleName));
    setMinimumSize(360, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
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
    paint(p, QRectF(rect()));
}

ReplyTimePlot::ReplyTimePlot(const LinkStats& linkStats, QWidget* parent)
    : LinkPlot(linkStats, "replyTimePlot", "Reply times", parent)
{
    refresh();
}

void ReplyTimePlot::paint(QPainter& p, const QRectF& area) const
{
    PaintReplyHistogram(p, area, stats.histogram());
}

std::string ReplyTimePlot::describe() const
{
    return stats.histogram().describe();
}

TimelinePlot::TimelinePlot(const LinkStats& linkStats, QWidget* parent)
    : LinkPlot(linkStats, "timelinePlot", "Polls over the last 10 minutes", parent)
{
    refresh();
}

void TimelinePlot::paint(QPainter& p, const QRectF& area) const
{
    PaintTimeline(p, area, stats.timeline());
}

std::string TimelinePlot::describe() const
{
    return stats.timeline().describe();
}

} // namespace kora
