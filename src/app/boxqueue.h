#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace oe {

class Dialogs;

// One box at a time: a message raised while a box or file dialog of the window is open (a port lost
// meanwhile, say) waits until it has closed. Every part opens its boxes through here.
class BoxQueue
{
public:
    explicit BoxQueue(QWidget *window);
    ~BoxQueue();

    // Replaces the message boxes and file dialogs (tests script them). Not owned; nullptr restores the
    // real ones.
    void setDialogs(Dialogs *dialogs);
    Dialogs &dialogs() { return *m_dialogs; }

    bool isOpen() const { return m_depth > 0; }
    void showMessage(const QString &text, const QString &title);
    // A box of its own kind that waits for the open one and goes before the waiting messages; a
    // second one replaces the first.
    void deferBox(std::function<void()> show) { m_deferred = std::move(show); }

    // Held while a box or dialog is open.
    class Scope
    {
    public:
        explicit Scope(BoxQueue &queue);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        BoxQueue &m_queue;
    };

private:
    QWidget *m_window;
    std::unique_ptr<Dialogs> m_realDialogs;
    Dialogs *m_dialogs = nullptr;
    int m_depth = 0;
    QList<QPair<QString, QString>> m_waiting; // text, title
    std::function<void()> m_deferred;
};

} // namespace oe
