#pragma once

#include "livetrace.h"

#include <QImage>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <utility>

class QComboBox;
class QPainter;
class QPushButton;
class QTimer;

namespace oe {

// The plot itself: the four live readings in stacked lanes against time, each lane on its own scale
// in display units, the RpmMin threshold as a dashed line on the speed lane and the pump flashes as
// marks on the pump lane. It repaints when a reading comes (at most ten times a second), otherwise once
// a second, and only while shown.
//
// The lanes are kept in an image of the plot. Time moves the plot in whole pixels (its right edge is
// the clock rounded down to a pixel), so when time has moved it only the new strip at the right is
// drawn, from the last sample already drawn on: everything left of it is exactly what a whole drawing
// would give, only further left (the image is a ring, so nothing is copied to move it). A change of scale, span, size, pause, lane
// names or threshold draws the whole once.
class ChartView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 100;
    // With no new reading the plot still moves on this often.
    static constexpr qint64 kIdleScrollMs = 1000;
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
    // Where the lanes stand in the widget, for a layer drawn over the plot (a recording's cursor).
    QRect plotArea() const;
    void setLaneNames(const std::array<QString, 4> &names);
    // Something new to show at the right edge; it reaches the screen with the next refresh.
    void touch();
    // The trace changed in a way that is not an addition at its end (it was emptied): draw it whole.
    void redrawAll();
    int paintCount() const { return m_paints; }
    // What the plot's image cost so far: drawings of the whole, and device pixels drawn afresh.
    int wholeDrawings() const { return m_wholeDrawings; }
    qint64 pixelsDrawn() const { return m_pixelsDrawn; }

    QSize sizeHint() const override { return {720, 420}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // Where the plot stands and what it is drawn against; two frames with equal scales and sizes differ
    // only by a shift of (tick - tick) device pixels.
    struct Frame {
        QRect plot;                        // in the widget
        int deviceWidth = 0;               // of the plot, in device pixels
        qint64 spanMs = 0;
        qint64 tick = 0;                   // the right edge: device pixels of clock time
        std::array<double, 4> tops{};      // each lane's scale
        qint32 rpmMin = kNoRpmMin;
        bool sameScales(const Frame &other) const;
    };

    void refresh();
    void lookSoon();
    Frame currentFrame() const;
    QRect laneBox(const Frame &f, int lane) const; // in the plot image
    double xOf(const Frame &f, qint64 ms) const;   // in the plot image, logical pixels
    // Up to the pixel the clock is in: a reading lands in the plot's last column the moment it comes.
    bool shown(const Frame &f, qint64 ms) const { return ms * f.deviceWidth < (f.tick + 1) * f.spanMs; }
    int firstSampleOf(const Frame &f) const;
    // Brings the plot's image to frame f: shifted and the new strip drawn where that is exact, else
    // whole. Returns the first device column drawn afresh (0: all of it).
    int updatePlot(const Frame &f);
    void moveOn(const Frame &f);
    std::pair<int, int> inkRows(const Frame &f, int lane) const;
    int ringStart(const Frame &f) const;
    void drawColumns(const Frame &f, int fromDevice);
    void drawPiece(QPainter &p, const Frame &f, int fromDevice, int toDevice, int shiftDevice);
    void drawLabels(QPainter &p, const Frame &f);

    const LiveTrace &m_trace;
    std::function<qint64()> m_clock;
    QTimer *m_refresh;
    int m_spanMinutes = 2;
    bool m_paused = false;
    qint64 m_pausedAt = 0;
    qint32 m_rpmMin = kNoRpmMin;
    bool m_newData = true;
    bool m_wholePending = true;
    QImage m_image;
    Frame m_imageFrame;
    std::optional<qint64> m_imageLastSample; // the time of the last reading the image holds
    int m_paints = 0;
    int m_wholeDrawings = 0;
    qint64 m_pixelsDrawn = 0;
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
    std::array<QString, 4> m_names; // the readings' names, for assistive technology
    QPushButton *m_pause;
    QPushButton *m_save;
};

} // namespace oe
