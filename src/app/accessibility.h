#pragma once

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

// Sets the value assistive technology reads for a slider: the value the window shows ("110%",
// "0.3 s", "---"), not its knob's position.
void setSliderValueText(QWidget *slider, const QString &text);

// Sets a control's accessible name and description, and tells assistive technology when they change.
void describe(QWidget *widget, const QString &name, const QString &description);

} // namespace oe
