#pragma once

#include <QObject>

class QAction;
class QMenu;

namespace oe {

class RecordingWindow;
struct WindowContext;

// Tools > Open recording… ("menuTools_6"): a recording of a test ride shown in the chart's drawing,
// with or without a controller. A file that is no recording is refused; one cut short is shown up to
// its last whole line; a box says which.
class RecordingTools : public QObject
{
    Q_OBJECT
public:
    RecordingTools(WindowContext &context, QMenu *toolsMenu);

    void applyCaptions();
    // Reads and shows path; false (and told) when nothing can be shown.
    bool open(const QString &path);
    RecordingWindow *window() const { return m_window; }
    QAction *openItem = nullptr;

private:
    WindowContext &m_context;
    RecordingWindow *m_window = nullptr;
};

} // namespace oe
