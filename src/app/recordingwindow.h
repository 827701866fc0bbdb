#pragma once

#include "livetrace.h"
#include "recordingfile.h"

#include <QWidget>

#include <array>
#include <memory>

class QComboBox;
class QLabel;
class QScrollBar;

namespace oe {

class ChartView;

// A recorded ride in the chart's own drawing: the four readings over the recorded time, the parameter
// changes and the end as marks, a span to zoom through (1 minute to a whole day) and a bar to scroll,
// and a cursor that shows the time and the exact values of the reading under it. The arrow keys move
// the cursor reading by reading, Home and End to the first and the last; the view follows it.
class RecordingWindow : public QWidget
{
    Q_OBJECT
public:
    explicit RecordingWindow(QWidget *parent = nullptr);
    ~RecordingWindow() override;

    // Shows a recording read by parseRecording (what it holds, whatever its status).
    void showRecording(const RecordingReadResult &recording, const QString &name);
    // The lane names and the window's title prefix, in the language shown.
    void setCaptions(const QString &title, const std::array<QString, 4> &names);

    ChartView *view() const { return m_view; }
    QComboBox *spanBox() const { return m_span; }
    QScrollBar *scrollBar() const { return m_scroll; }
    QWidget *cursorLayer() const { return m_layer; }
    // The reading the cursor stands on (-1 before any), and what the cursor line says of it.
    int cursor() const { return m_cursor; }
    QString cursorText() const;

    void setCursor(int reading);
    // The reading nearest to a point of the plot (widget coordinates of the view).
    int readingAt(int x) const;
    // Where a time of the recording stands in the view, in its widget coordinates.
    double xOf(qint64 ms) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class Layer;
    void fillTrace();
    void updateScrollRange();
    void scrollTo(qint64 rightEdgeMs);
    qint64 spanMs() const;

    LiveTrace m_trace{1};
    RecordingReadResult m_recording;
    QString m_name;
    QString m_title;
    std::array<QString, 4> m_names{QStringLiteral("RPM"), QStringLiteral("TINJ"), QStringLiteral("PUMP"),
                                   QStringLiteral("PAUSA")};
    ChartView *m_view = nullptr;
    QWidget *m_layer = nullptr;
    QComboBox *m_span = nullptr;
    QScrollBar *m_scroll = nullptr;
    QLabel *m_values = nullptr;
    qint64 m_rightEdge = 0;
    int m_cursor = -1;
};

} // namespace oe
