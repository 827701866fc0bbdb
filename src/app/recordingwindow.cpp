#include "recordingwindow.h"

#include "chartwindow.h"
#include "numbertexts.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace oe {

namespace {

// From a minute to a whole day: a day's ride is looked at whole, then zoomed into.
constexpr int kSpans[] = {1, 2, 5, 10, 30, 60, 240, 1440};

QString clockText(const QDateTime &start, qint64 ms)
{
    return start.isValid() ? start.addMSecs(ms).toString(QStringLiteral("HH:mm:ss.zzz"))
                           : QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 3);
}

} // namespace

// Over the plot: the marks and the cursor. It takes the pointer and the keys; the plot below stays the
// chart's own drawing.
class RecordingWindow::Layer : public QWidget
{
public:
    explicit Layer(RecordingWindow *window, QWidget *parent) : QWidget(parent), m_window(window)
    {
        setObjectName(QStringLiteral("RecordingCursor"));
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QRect plot = m_window->m_view->plotArea();
        p.setClipRect(plot);
        for (const RecordedMark &mark : m_window->m_recording.marks) {
            const double x = m_window->xOf(mark.ms);
            if (x < plot.left() - 1 || x > plot.right() + 1)
                continue;
            const QColor color = mark.kind == RecordedMark::Kind::Change ? QColor(0, 120, 0)
                                 : mark.kind == RecordedMark::Kind::End  ? QColor(160, 0, 0)
                                                                         : QColor(110, 110, 110);
            p.setPen(QPen(color, 1, Qt::DashLine));
            p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            const QString label = mark.kind == RecordedMark::Kind::Change
                                      ? QStringLiteral("%1 %2%3 (%4)")
                                            .arg(mark.parameter, mark.to,
                                                 mark.toDisplay.isEmpty() ? QString() : QStringLiteral(" = ") + mark.toDisplay,
                                                 mark.cause)
                                      : mark.cause.isEmpty() ? mark.event : mark.cause;
            p.setPen(color);
            p.drawText(QPointF(x + 3, plot.top() + 12), label);
        }
        const int cursor = m_window->m_cursor;
        if (cursor >= 0 && cursor < int(m_window->m_recording.readings.size())) {
            const double x = m_window->xOf(m_window->m_recording.readings[size_t(cursor)].ms);
            p.setPen(QPen(QColor(0, 0, 200), 1));
            p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        }
        if (hasFocus()) {
            p.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
            p.drawRect(plot.adjusted(0, 0, -1, -1));
        }
    }
    void mouseMoveEvent(QMouseEvent *event) override { m_window->setCursor(m_window->readingAt(event->position().toPoint().x())); }
    void mousePressEvent(QMouseEvent *event) override
    {
        setFocus(Qt::MouseFocusReason);
        m_window->setCursor(m_window->readingAt(event->position().toPoint().x()));
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        const int last = int(m_window->m_recording.readings.size()) - 1;
        switch (event->key()) {
        case Qt::Key_Left: m_window->setCursor(std::max(0, m_window->m_cursor - 1)); break;
        case Qt::Key_Right: m_window->setCursor(std::min(last, m_window->m_cursor + 1)); break;
        case Qt::Key_Home: m_window->setCursor(0); break;
        case Qt::Key_End: m_window->setCursor(last); break;
        default: QWidget::keyPressEvent(event); return;
        }
    }
    void focusInEvent(QFocusEvent *) override { update(); }
    void focusOutEvent(QFocusEvent *) override { update(); }

private:
    RecordingWindow *m_window;
};

RecordingWindow::RecordingWindow(QWidget *parent)
    : QWidget(parent, Qt::Window),
      m_view(new ChartView(m_trace, this)),
      m_span(new QComboBox(this)),
      m_scroll(new QScrollBar(Qt::Horizontal, this)),
      m_values(new QLabel(this))
{
    setObjectName(QStringLiteral("RecordingWindow"));
    m_span->setObjectName(QStringLiteral("RecordingSpan"));
    m_scroll->setObjectName(QStringLiteral("RecordingScroll"));
    m_values->setObjectName(QStringLiteral("RecordingValues"));
    m_values->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (int minutes : kSpans)
        m_span->addItem(minutes < 60 ? QStringLiteral("%1 min").arg(minutes) : QStringLiteral("%1 h").arg(minutes / 60),
                        minutes);
    m_span->setCurrentIndex(2);
    m_view->setSpanMinutes(5);
    m_view->setClock([this] { return m_rightEdge; });
    m_layer = new Layer(this, m_view);
    m_view->installEventFilter(this);

    auto *bar = new QHBoxLayout;
    bar->addWidget(m_span);
    bar->addWidget(m_values, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_scroll);

    connect(m_span, &QComboBox::currentIndexChanged, this, [this](int index) {
        // Zoomed around the cursor when there is one, else around the middle of the view.
        const qint64 centre = m_cursor >= 0 ? m_recording.readings[size_t(m_cursor)].ms : m_rightEdge - spanMs() / 2;
        m_view->setSpanMinutes(m_span->itemData(index).toInt());
        fillTrace();
        updateScrollRange();
        scrollTo(centre + spanMs() / 2);
    });
    connect(m_scroll, &QScrollBar::valueChanged, this, [this](int seconds) {
        m_rightEdge = qint64(seconds) * 1000 + spanMs();
        m_view->redrawAll();
        m_layer->update();
    });
    resize(820, 520);
}

RecordingWindow::~RecordingWindow() = default;

bool RecordingWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::Resize) {
        m_layer->setGeometry(m_view->rect());
        fillTrace();
    }
    return QWidget::eventFilter(watched, event);
}

void RecordingWindow::setCaptions(const QString &title, const std::array<QString, 4> &names)
{
    m_title = title;
    m_names = names;
    m_view->setLaneNames(names);
    setWindowTitle(m_name.isEmpty() ? title : QStringLiteral("%1 – %2").arg(title, m_name));
}

void RecordingWindow::showRecording(const RecordingReadResult &recording, const QString &name)
{
    m_recording = recording;
    m_name = name;
    fillTrace();
    setWindowTitle(QStringLiteral("%1 – %2").arg(m_title, name));
    m_cursor = -1;
    updateScrollRange();
    scrollTo(spanMs());
    setCursor(recording.readings.empty() ? -1 : 0);
    QWidget::show();
    raise();
    activateWindow();
    m_layer->setFocus();
}

// What the chart draws. Where the span puts many readings on one pixel (a whole day: 170 000 readings
// on some 750 pixels), each pixel's stretch keeps only the readings that are a lane's lowest or
// highest there: the lines look the same, and drawing the day takes a tenth of a second, not five.
// The cursor still goes reading by reading through them all.
void RecordingWindow::fillTrace()
{
    const auto &r = m_recording.readings;
    const qint64 bucketMs = spanMs() / std::max(1, m_view->plotArea().width());
    m_trace = LiveTrace(std::max(1, int(r.size())), 1, std::numeric_limits<qint64>::max());
    const auto gapBefore = [&r](size_t i) { return i > 0 && r[i].ms - r[i - 1].ms > LiveTrace::kGapAfterMs; };
    const auto append = [this, &r, &gapBefore](size_t i) {
        if (gapBefore(i))
            m_trace.markGap();
        m_trace.append({r[i].ms, r[i].rpm, r[i].tinj, r[i].pump, r[i].pause, false});
    };
    if (bucketMs <= 2 * 500) {
        for (size_t i = 0; i < r.size(); ++i)
            append(i);
    } else {
        size_t i = 0;
        while (i < r.size()) {
            const qint64 end = (r[i].ms / bucketMs + 1) * bucketMs;
            std::array<size_t, 8> picks;
            picks.fill(i);
            size_t j = i + 1;
            for (; j < r.size() && r[j].ms < end && !gapBefore(j); ++j) {
                const std::array<qint32, 4> v{r[j].rpm, r[j].tinj, r[j].pump, r[j].pause};
                for (size_t lane = 0; lane < 4; ++lane) {
                    const RecordedReading &lo = r[picks[2 * lane]], &hi = r[picks[2 * lane + 1]];
                    const std::array<qint32, 4> l{lo.rpm, lo.tinj, lo.pump, lo.pause}, h{hi.rpm, hi.tinj, hi.pump, hi.pause};
                    if (v[lane] < l[lane])
                        picks[2 * lane] = j;
                    if (v[lane] > h[lane])
                        picks[2 * lane + 1] = j;
                }
            }
            std::sort(picks.begin(), picks.end());
            // The stretch's first reading starts it where it starts, whichever lane keeps it.
            append(i);
            for (size_t k = 0; k < picks.size(); ++k) {
                if (picks[k] != i && (k == 0 || picks[k] != picks[k - 1]))
                    append(picks[k]);
            }
            i = j;
        }
    }
    m_view->redrawAll();
}

qint64 RecordingWindow::spanMs() const
{
    return qint64(m_view->spanMinutes()) * 60000;
}

void RecordingWindow::updateScrollRange()
{
    const qint64 lastMs = m_recording.readings.empty() ? 0 : m_recording.readings.back().ms;
    const qint64 span = spanMs();
    m_scroll->setRange(0, int(std::max<qint64>(0, lastMs - span + 999) / 1000));
    m_scroll->setPageStep(int(span / 1000));
    m_scroll->setSingleStep(std::max(1, int(span / 10000)));
}

// The view's right edge, kept within the recording and on whole seconds (the bar's unit).
void RecordingWindow::scrollTo(qint64 rightEdgeMs)
{
    const qint64 seconds = std::clamp<qint64>((rightEdgeMs - spanMs()) / 1000, m_scroll->minimum(), m_scroll->maximum());
    m_rightEdge = seconds * 1000 + spanMs();
    if (m_scroll->value() != int(seconds))
        m_scroll->setValue(int(seconds)); // redraws through valueChanged
    m_view->redrawAll();
    m_layer->update();
}

double RecordingWindow::xOf(qint64 ms) const
{
    const QRect plot = m_view->plotArea();
    return plot.left() + double(ms - (m_rightEdge - spanMs())) * plot.width() / double(spanMs());
}

int RecordingWindow::readingAt(int x) const
{
    const auto &readings = m_recording.readings;
    if (readings.empty())
        return -1;
    const QRect plot = m_view->plotArea();
    const qint64 ms = m_rightEdge - spanMs() + qint64(double(x - plot.left()) * double(spanMs()) / std::max(1, plot.width()));
    const auto it = std::lower_bound(readings.begin(), readings.end(), ms,
                                     [](const RecordedReading &r, qint64 t) { return r.ms < t; });
    if (it == readings.end())
        return int(readings.size()) - 1;
    if (it != readings.begin() && ms - std::prev(it)->ms < it->ms - ms)
        return int(it - readings.begin()) - 1;
    return int(it - readings.begin());
}

void RecordingWindow::setCursor(int reading)
{
    if (reading < -1 || reading >= int(m_recording.readings.size()))
        return;
    m_cursor = reading;
    if (reading >= 0) {
        // The view follows a cursor the keys moved out of it.
        const qint64 ms = m_recording.readings[size_t(reading)].ms;
        if (ms > m_rightEdge)
            scrollTo(ms + spanMs() / 10);
        else if (ms < m_rightEdge - spanMs())
            scrollTo(ms + spanMs() * 9 / 10);
    }
    m_values->setText(cursorText());
    m_layer->update();
}

QString RecordingWindow::cursorText() const
{
    if (m_cursor < 0)
        return {};
    const RecordedReading &r = m_recording.readings[size_t(m_cursor)];
    return QStringLiteral("%1   %2 %3   %4 %5   %6 %7   %8 %9")
        .arg(clockText(m_recording.start, r.ms), m_names[0], plainNumberText(r.rpm), m_names[1], plainNumberText(r.tinj),
             m_names[2], secondsText(r.pump, SecondsUnit::Steps20ms), m_names[3],
             secondsText(r.pause, SecondsUnit::Steps25ms));
}

} // namespace oe
