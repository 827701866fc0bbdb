#pragma once

#include <QObject>

#include <array>

class QAction;
class QMenu;
class QMenuBar;

namespace oe {

struct WindowContext;

// The Info menu: the help in the language in use (F1) and the About box.
class InfoMenu : public QObject
{
    Q_OBJECT
public:
    InfoMenu(WindowContext &context, QMenuBar *menuBar);
    void applyCaptions();

    QMenu *menuInfoTop = nullptr;
    std::array<QAction *, 2> menuInfo{};

private:
    void showInfo(int index);

    WindowContext &m_context;
};

} // namespace oe
