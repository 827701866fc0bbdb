#pragma once

#include <QColor>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QRect>
#include <QSlider>

// How the window's controls are drawn: the layout's units and colours, and the makers every part
// builds its controls with, so they all look alike.
namespace oe::layout {

// The layout is drawn in twips; the screen has 15 of them to a pixel.
constexpr int kTwipsPerPixel = 15;

inline QRect twips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

// Colours are kept as the layout gives them: 0x00BBGGRR.
inline QColor bgr(quint32 value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

inline const QColor kCaptionBack = bgr(0x0000C0C0); // also the pump lamp at rest
inline const QColor kLiveBack = bgr(0x000080FF);
inline const QColor kVersionBack = bgr(0x00FFFFC0);
inline const QColor kLampOnBack = bgr(0x000000FF);

inline QFont baseFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(9);
    font.setBold(false); // explicit, so captions inside bold frames stay plain
    return font;
}

inline QFont boldFont(int pointSize = 9)
{
    QFont font = baseFont();
    font.setPointSize(pointSize);
    font.setBold(true);
    return font;
}

template <typename T>
T *named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

inline QGroupBox *makeFrame(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *frame = named(new QGroupBox(caption, parent), name);
    frame->setGeometry(geometry);
    frame->setFont(boldFont());
    return frame;
}

inline QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, QRect geometry,
                         const QColor &back = QColor())
{
    auto *label = named(new QLabel(text, parent), name);
    label->setGeometry(geometry);
    label->setFont(baseFont());
    if (back.isValid()) {
        label->setAutoFillBackground(true);
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, back);
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
    }
    return label;
}

inline QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *button = named(new QPushButton(caption, parent), name);
    button->setGeometry(geometry);
    button->setFont(boldFont());
    // Enter on a focused button presses it, as Space does: the keyboard alone drives the window. A
    // button without the focus takes neither.
    button->setAutoDefault(true);
    return button;
}

struct SliderSpec {
    int min, max, smallChange, largeChange, tickFrequency, value;
};

inline QSlider *makeSlider(QWidget *parent, const char *name, QRect geometry, SliderSpec spec)
{
    auto *slider = named(new QSlider(Qt::Horizontal, parent), name);
    slider->setGeometry(geometry);
    slider->setRange(spec.min, spec.max);
    slider->setSingleStep(spec.smallChange);
    slider->setPageStep(spec.largeChange);
    slider->setTickInterval(spec.tickFrequency);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setValue(spec.value);
    return slider;
}

inline void setBackColor(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, color);
    label->setPalette(palette);
}

// Shown where the window does not know what the controller holds or reads.
inline const QString kUnknownText = QStringLiteral("---");

} // namespace oe::layout
