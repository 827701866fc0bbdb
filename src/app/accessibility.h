#pragma once

#include <QMetaType>
#include <QString>

class QLabel;
class QWidget;

namespace oe {

// What assistive technology (a screen reader) is told about the controls.

// Lets the window's status lines be announced as such; called once, before the window is built.
void installAccessibility();

// Marks a label as a status line: assistive technology reads it as a status bar and hears its
// changes. Before anything asked about the label.
void makeStatusLine(QLabel *label);

// What assistive technology reads for a slider: the value the window shows ("110%", "0.3 s", "---"),
// not its knob's position, and as a number in the same unit (110, 0.3) with the slider's ends and
// step, for a reader that reads the number.
struct SliderValue {
    QString text;
    double value = 0, minimum = 0, maximum = 0, step = 0;
};
void setSliderValue(QWidget *slider, const SliderValue &value);

// Sets a control's accessible name and description, and tells assistive technology when they change.
void describe(QWidget *widget, const QString &name, const QString &description);

// Esc and Ctrl+W close a tool window, as they close a dialog: its close event still asks what it
// must (unsaved changes).
void closeOnEscapeAndCtrlW(QWidget *window);

} // namespace oe

Q_DECLARE_METATYPE(oe::SliderValue)
