#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace oe {

// Keeps the window's focus where the technician put it. A control they chose (a click, Tab, a
// shortcut) stays theirs across boxes, dialogs and menus: when a box closes, or a button that had
// the focus comes back after a step disabled it, the focus goes back to it. Qt would hand the focus
// of a control being disabled to the next one in the Tab order, and that is a slider after Save
// Map: one stray arrow key would reprogram the controller. A slider therefore holds the focus, and
// takes its keys, only when the technician chose it.
class FocusGuard : public QObject
{
    Q_OBJECT
public:
    explicit FocusGuard(QWidget *window);
    ~FocusGuard() override;

    // Marks a control as chosen by the technician without a focus event of their own (the slider
    // whose value label they double-clicked).
    void choose(QWidget *control);
    // The control the technician chose last, while it is in the window.
    QWidget *chosen() const { return m_chosen; }
    // A slider's keys move it only when the technician chose it.
    bool keysAllowed(const QWidget *slider) const { return slider && slider == m_chosen; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onFocusIn(QWidget *widget, Qt::FocusReason reason);
    // Gives the focus back to the chosen control when it can take it, else keeps it off the sliders.
    void restore();
    bool isSlider(const QWidget *widget) const;
    bool usable(const QWidget *widget) const;

    QWidget *m_window;
    QPointer<QWidget> m_chosen;
    // The focus is not where the technician put it (a box took it, or their control was disabled).
    bool m_displaced = false;
    // A Tab or Backtab of the technician's is being delivered.
    bool m_userTab = false;
    bool m_restorePosted = false;
};

} // namespace oe
