#include "boxqueue.h"

#include "dialogs.h"

#include <utility>

namespace oe {

BoxQueue::BoxQueue(QWidget *window)
    : m_window(window), m_realDialogs(std::make_unique<QtDialogs>()), m_dialogs(m_realDialogs.get())
{
}

BoxQueue::~BoxQueue() = default;

void BoxQueue::setDialogs(Dialogs *dialogs)
{
    m_dialogs = dialogs ? dialogs : m_realDialogs.get();
}

BoxQueue::Scope::Scope(BoxQueue &queue) : m_queue(queue)
{
    ++m_queue.m_depth;
}

BoxQueue::Scope::~Scope()
{
    if (--m_queue.m_depth > 0)
        return;
    if (auto show = std::exchange(m_queue.m_deferred, nullptr)) {
        show();
    } else if (!m_queue.m_waiting.isEmpty()) {
        const auto [text, title] = m_queue.m_waiting.takeFirst();
        m_queue.showMessage(text, title);
    }
}

void BoxQueue::showMessage(const QString &text, const QString &title)
{
    if (m_depth > 0) {
        m_waiting.append({text, title});
        return;
    }
    Scope scope(*this);
    m_dialogs->message(m_window, text, title);
}

} // namespace oe
