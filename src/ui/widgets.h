#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

namespace kora {

// A filled rectangle with a one-pixel black outline; it only decorates.
class Shape : public QWidget
{
    Q_OBJECT

public:
    Shape(QColor fill, QWidget* parent);
    QColor fillColour() const { return fill; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor fill;
};

// A solid one-pixel line drawn along the widget's top edge.
class Line : public QWidget
{
    Q_OBJECT

public:
    Line(QColor colour, QWidget* parent);
    QColor lineColour() const { return colour; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor colour;
};

// A frame whose whole area, caption line included, is painted in its
// background colour, with an etched border and the caption over the border's
// top edge. Children are placed from the outer top-left corner.
class Frame : public QGroupBox
{
    Q_OBJECT

public:
    Frame(const QString& caption, QWidget* parent);

    // The caption as the operator reads it: "&&" stands for one "&".
    QString shownCaption() const;

protected:
    void paintEvent(QPaintEvent*) override;
};

// A push button whose face shows its background colour (the palette's
// Button role) instead of the style's shading, so that green and red read as
// START and STOP at a glance.
class FaceButton : public QPushButton
{
    Q_OBJECT

public:
    FaceButton(const QString& caption, QWidget* parent);

protected:
    void paintEvent(QPaintEvent*) override;
};

// A text box whose border shows on any background: the style shades the
// border from the box's own window colour, not from its container's. It is
// made empty: its text is laid out again at each change of font, colour or
// alignment, so the caller gives the text once those are set.
QLineEdit* MakeTextBox(const QString& name, QRect place, QWidget* parent);

} // namespace kora
