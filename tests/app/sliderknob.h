#pragma once

#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

// The centre of a slider's knob, where a press grabs it without moving it.
inline QPoint knobCentre(QSlider *slider)
{
    struct Access : QSlider {
        using QSlider::initStyleOption;
    };
    QStyleOptionSlider option;
    static_cast<Access *>(slider)->initStyleOption(&option);
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider).center();
}
