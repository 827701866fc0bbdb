#pragma once

#include "livetrace.h"

#include <QWidget>

#include <array>
#include <functional>

class QComboBox;
class QPushButton;
class QTimer;

namespace oe {

// The plot itself: the four live readings in stacked lanes against time, each lane on its own scale
// in display units, the RpmMin threshold as a dashed line on the speed lane and the pump flashes as
// marks on the pump lane. It repaints at most ten times a second, and only while shown.
class ChartView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 100;
    // No threshold line: the controller's RpmMin is not known.
    static constexpr qint32 kNoRpmMin = -1;

    explicit ChartView(const LiveTrace &trace, QWidget *parent = nullptr);

    // The right edge of the plot; by default a steady clock, tests and the manual's pictures set one.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    qint64 now() const { return m_clock(); }
    void setSpanMinutes(int minutes);
    int spanMinutes() const { return m_spanMinutes; }
    // A paused view stays where it stood; the trace keeps filling behind it.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    void setRpmMin(qint32 rpmMin);
    void setLaneNames(const std::array<QString, 4> &names);
    // Something new to show; it reaches the screen with the next refresh.
    void touch() { m_dirty = true; }
    int paintCount() const { return m_paints; }

    QSize sizeHint() const override { return {720, 420}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refresh();
    qint64 rightEdge() const { return m_paused ? m_pausedAt : now(); }

    const LiveTrace &m_trace;
    std::function<qint64()> m_clock;
    QTimer *m_refresh;
    int m_spanMinutes = 2;
    bool m_paused = false;
    qint64 m_pausedAt = 0;
    qint32 m_rpmMin = kNoRpmMin;
    bool m_dirty = true;
    qint64 m_paintedEdge = 0;
    int m_paints = 0;
    std::array<QString, 4> m_names{QStringLiteral("RPM"), QStringLiteral("TINJ"), QStringLiteral("PUMP"),
                                   QStringLiteral("PAUSA")};
};

// The chart's own window: not modal, resizable, with the span (1, 2, 5 or 10 minutes), a pause and a
// button that saves what the plot shows as a PNG.
class ChartWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ChartWindow(QWidget *parent = nullptr);

    LiveTrace &trace() { return m_trace; }
    ChartView *view() const { return m_view; }
    QComboBox *spanBox() const { return m_span; }
    QPushButton *pauseButton() const { return m_pause; }
    QPushButton *saveButton() const { return m_save; }

    void addReading(qint32 rpm, qint32 tinj, qint32 pump, qint32 pause);
    void addFlash();
    void markGap();
    void clear();

    // Captions in the language shown: window title, pause, save, and the lane names.
    void setCaptions(const QString &title, const QString &pause, const QString &save,
                     const std::array<QString, 4> &names);
    // Writes the plot as it stands to a PNG file.
    bool savePicture(const QString &path) const;

signals:
    void savePictureRequested();

private:
    LiveTrace m_trace;
    ChartView *m_view;
    QComboBox *m_span;
    QPushButton *m_pause;
    QPushButton *m_save;
};

} // namespace oe
