#pragma once

#include "protocol/linkstats.h"

#include <QString>
#include <QWidget>

namespace kora {

// A plot of the link's figures in a window, drawn by the same code as the
// printed report, and told in words to screen readers.
class LinkPlot : public QWidget
{
    Q_OBJECT

public:
    // Repaints, and renews the accessible description when it has changed.
    void refresh();
    QSize sizeHint() const override { return {560, 200}; }

protected:
    LinkPlot(const LinkStats& stats, const char* objectName, const char* accessibleName,
             QWidget* parent);
    void paintEvent(QPaintEvent* event) override;
    virtual void paint(QPainter& p, const QRectF& area) const = 0;
    virtual std::string describe() const = 0;

    const LinkStats& stats;
};

// How long the acceptor takes to answer: the fine bins, the slow replies and
// the time-outs since START.
class ReplyTimePlot : public LinkPlot
{
    Q_OBJECT

public:
    ReplyTimePlot(const LinkStats& stats, QWidget* parent);

protected:
    void paint(QPainter& p, const QRectF& area) const override;
    std::string describe() const override;
};

// The polls of the last ten minutes by outcome, and when the device was away.
class TimelinePlot : public LinkPlot
{
    Q_OBJECT

public:
    TimelinePlot(const LinkStats& stats, QWidget* parent);

protected:
    void paint(QPainter& p, const QRectF& area) const override;
    std::string describe() const override;
};

} // namespace kora
