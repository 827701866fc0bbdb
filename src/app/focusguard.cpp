#include "focusguard.h"

#include <QAbstractSlider>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

namespace oe {

FocusGuard::FocusGuard(QWidget *window) : QObject(window), m_window(window)
{
    qApp->installEventFilter(this);
}

FocusGuard::~FocusGuard()
{
    qApp->removeEventFilter(this);
}

void FocusGuard::choose(QWidget *control)
{
    m_chosen = control;
    m_displaced = false;
}

bool FocusGuard::isSlider(const QWidget *widget) const
{
    return qobject_cast<const QAbstractSlider *>(widget) != nullptr;
}

bool FocusGuard::usable(const QWidget *widget) const
{
    return widget && widget->window() == m_window && widget->isEnabled() && widget->isVisible()
           && widget->focusPolicy() != Qt::NoFocus;
}

bool FocusGuard::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // Qt moves the focus of a control being disabled with the Tab reason too: only a Tab key
        // delivered now is the technician's. The flag lasts for this turn of the event loop.
        if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && !m_userTab && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->window() == m_window) {
            m_userTab = true;
            QTimer::singleShot(0, this, [this] { m_userTab = false; });
        }
        break;
    }
    case QEvent::FocusIn:
        if (watched->isWidgetType())
            onFocusIn(static_cast<QWidget *>(watched), static_cast<QFocusEvent *>(event)->reason());
        break;
    case QEvent::EnabledChange:
    case QEvent::WindowActivate:
        // The chosen control is back (its step ended), or the window is again the active one.
        if (m_displaced && (watched == m_chosen || watched == m_window))
            restore();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void FocusGuard::onFocusIn(QWidget *widget, Qt::FocusReason reason)
{
    if (widget->window() != m_window || widget == m_window)
        return;
    const bool technician = reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason
                            || ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) && m_userTab);
    if (technician) {
        choose(widget);
        return;
    }
    if (widget == m_chosen) {
        m_displaced = false;
        return;
    }
    // The window itself, or a control the program focused on purpose (the value editor): fine, but a
    // slider never; a handed-on or restored focus goes back to the chosen control.
    if (isSlider(widget) || reason != Qt::OtherFocusReason) {
        m_displaced = true;
        if (!m_restorePosted) {
            m_restorePosted = true;
            // After the focus change under way has ended; meanwhile the slider's keys are refused.
            QMetaObject::invokeMethod(this, [this] {
                m_restorePosted = false;
                restore();
            }, Qt::QueuedConnection);
        }
    }
}

void FocusGuard::restore()
{
    if (!m_displaced)
        return;
    if (usable(m_chosen)) {
        m_displaced = false;
        m_chosen->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The chosen control is away for now (disabled while its step runs): the focus waits on the
    // window itself, where no key changes anything, until it is back.
    QWidget *focused = m_window->focusWidget();
    if (focused && focused != m_window && isSlider(focused))
        m_window->setFocus(Qt::OtherFocusReason);
}

} // namespace oe
