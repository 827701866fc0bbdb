#include "chartwindow.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace oe {

namespace {

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

constexpr std::array<int, 4> kSpans{1, 2, 5, 10};
constexpr int kLeftMargin = 64;
constexpr int kRightMargin = 12;
constexpr int kTopMargin = 6;
constexpr int kBottomMargin = 22;
constexpr int kLaneGap = 8;

// A reading in the unit the main window shows it in: pump times in 20 ms steps and pauses in 25 ms
// steps become seconds, the others are shown as they come.
double displayValue(int lane, const TraceSample &s)
{
    switch (lane) {
    case 0: return s.rpm;
    case 1: return s.tinj;
    case 2: return s.pump * 0.02;
    default: return s.pause * 0.025;
    }
}

// The smallest 1, 2 or 5 times a power of ten at or above value, so a scale's top is a round number.
double roundTop(double value)
{
    if (value <= 0)
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 2.0, 5.0, 10.0})
        if (value <= step * power)
            return step * power;
    return 10 * power;
}

// A scale's top in the labels' style: their decimal separator, no grouping.
QString scaleText(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 6);
}

const std::array<QColor, 4> kLaneColors{QColor(20, 80, 200), QColor(20, 130, 60), QColor(210, 110, 0),
                                        QColor(130, 40, 160)};

} // namespace

ChartView::ChartView(const LiveTrace &trace, QWidget *parent)
    : QWidget(parent), m_trace(trace), m_clock(steadyMs), m_refresh(new QTimer(this))
{
    setObjectName(QStringLiteral("ChartView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(360, 240);
    m_refresh->setInterval(kRefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &ChartView::refresh);
}

void ChartView::setSpanMinutes(int minutes)
{
    m_spanMinutes = minutes;
    m_dirty = true;
}

void ChartView::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    m_pausedAt = now();
    m_dirty = true;
}

void ChartView::setRpmMin(qint32 rpmMin)
{
    if (rpmMin != m_rpmMin)
        m_dirty = true;
    m_rpmMin = rpmMin;
}

void ChartView::setLaneNames(const std::array<QString, 4> &names)
{
    m_names = names;
    m_dirty = true;
}

void ChartView::showEvent(QShowEvent *)
{
    m_dirty = true;
    m_refresh->start();
}

void ChartView::hideEvent(QHideEvent *)
{
    m_refresh->stop();
}

// Repaints when something new came, or when time has moved the plot by at least a pixel.
void ChartView::refresh()
{
    if (!isVisible())
        return;
    const qint64 spanMs = qint64(m_spanMinutes) * 60000;
    const int plotWidth = qMax(1, width() - kLeftMargin - kRightMargin);
    const bool scrolled = !m_paused && (rightEdge() - m_paintedEdge) * plotWidth >= spanMs;
    if (m_dirty || scrolled)
        update();
}

void ChartView::paintEvent(QPaintEvent *)
{
    ++m_paints;
    m_dirty = false;
    const qint64 right = rightEdge();
    m_paintedEdge = right;
    const qint64 spanMs = qint64(m_spanMinutes) * 60000;
    const qint64 left = right - spanMs;

    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QRect plot(kLeftMargin, kTopMargin, width() - kLeftMargin - kRightMargin,
                     height() - kTopMargin - kBottomMargin);
    if (plot.width() < 10 || plot.height() < 40)
        return;
    const double laneHeight = (plot.height() - 3.0 * kLaneGap) / 4.0;
    auto xOf = [&](qint64 ms) { return plot.left() + double(ms - left) * plot.width() / double(spanMs); };

    // The samples on screen, one before the left edge included so the line enters from it.
    const int count = m_trace.size();
    int first = 0;
    {
        int lo = 0, hi = count;
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (m_trace.at(mid).ms < left)
                lo = mid + 1;
            else
                hi = mid;
        }
        first = qMax(0, lo - 1);
    }

    QFont small = font();
    small.setPointSize(8);
    p.setFont(small);
    for (int lane = 0; lane < 4; ++lane) {
        const QRectF box(plot.left(), plot.top() + lane * (laneHeight + kLaneGap), plot.width(), laneHeight);
        double top = lane == 0 ? std::max(m_rpmMin, 0) : 0;
        for (int i = first; i < count; ++i)
            if (m_trace.at(i).ms <= right)
                top = std::max(top, displayValue(lane, m_trace.at(i)));
        top = roundTop(top);
        auto yOf = [&](double v) { return box.bottom() - std::clamp(v / top, 0.0, 1.0) * box.height(); };

        p.setPen(QColor(200, 200, 200));
        p.setBrush(QColor(248, 248, 248));
        p.drawRect(box);
        p.setPen(Qt::black);
        const QString unit = lane >= 2 ? QStringLiteral(" s") : QString();
        p.drawText(QRectF(0, box.top(), kLeftMargin - 4, 14), Qt::AlignRight | Qt::AlignTop,
                   scaleText(top) + unit);
        p.drawText(QRectF(0, box.bottom() - 14, kLeftMargin - 4, 14), Qt::AlignRight | Qt::AlignBottom,
                   QStringLiteral("0"));
        p.setPen(kLaneColors[size_t(lane)]);
        p.drawText(QRectF(0, box.top(), kLeftMargin - 4, box.height()), Qt::AlignRight | Qt::AlignVCenter,
                   m_names[size_t(lane)]);

        if (lane == 0 && m_rpmMin != kNoRpmMin) {
            p.setPen(QPen(QColor(200, 0, 0), 1, Qt::DashLine));
            p.drawLine(QPointF(box.left(), yOf(m_rpmMin)), QPointF(box.right(), yOf(m_rpmMin)));
        }
        if (lane == 2) {
            // One mark per flash of the pump lamp, along the lane's foot.
            p.setPen(QPen(QColor(220, 0, 0), 2));
            for (int i = 0; i < m_trace.flashCount(); ++i) {
                const qint64 at = m_trace.flashAt(i);
                if (at >= left && at <= right)
                    p.drawLine(QPointF(xOf(at), box.bottom()), QPointF(xOf(at), box.bottom() - 8));
            }
        }

        p.save();
        p.setClipRect(box);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(kLaneColors[size_t(lane)], 1.5));
        QPainterPath path;
        bool open = false;
        for (int i = first; i < count; ++i) {
            const TraceSample &s = m_trace.at(i);
            if (s.ms > right)
                break;
            const QPointF point(xOf(s.ms), yOf(displayValue(lane, s)));
            if (!open || s.gapBefore)
                path.moveTo(point);
            else
                path.lineTo(point);
            open = true;
        }
        p.drawPath(path);
        // A lone sample between two gaps has no line to show it: a dot does.
        p.setBrush(kLaneColors[size_t(lane)]);
        for (int i = first; i < count; ++i) {
            const TraceSample &s = m_trace.at(i);
            if (s.ms > right)
                break;
            const bool alone = (s.gapBefore || i == 0) && (i + 1 >= count || m_trace.at(i + 1).gapBefore);
            if (alone)
                p.drawEllipse(QPointF(xOf(s.ms), yOf(displayValue(lane, s))), 2, 2);
        }
        p.restore();
    }

    // Time axis: minutes and seconds before the right edge.
    p.setPen(Qt::black);
    const int stepS = m_spanMinutes <= 2 ? 30 : 60 * m_spanMinutes / 5;
    for (int s = 0; s <= m_spanMinutes * 60; s += stepS) {
        const double x = xOf(right - qint64(s) * 1000);
        p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + 4));
        const QString text = s == 0 ? QStringLiteral("0")
                                    : QStringLiteral("-%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
        p.drawText(QRectF(x - 30, plot.bottom() + 4, 60, kBottomMargin - 4), Qt::AlignCenter, text);
    }
}

ChartWindow::ChartWindow(QWidget *parent)
    : QWidget(parent, Qt::Window),
      m_view(new ChartView(m_trace, this)),
      m_span(new QComboBox(this)),
      m_pause(new QPushButton(QStringLiteral("Pausa"), this)),
      m_save(new QPushButton(QStringLiteral("Salva immagine"), this))
{
    setObjectName(QStringLiteral("ChartWindow"));
    m_span->setObjectName(QStringLiteral("ChartSpan"));
    m_pause->setObjectName(QStringLiteral("ChartPause"));
    m_save->setObjectName(QStringLiteral("ChartSave"));
    for (int minutes : kSpans)
        m_span->addItem(QStringLiteral("%1 min").arg(minutes), minutes);
    m_span->setCurrentIndex(1);
    m_pause->setCheckable(true);

    auto *bar = new QHBoxLayout;
    bar->addWidget(m_span);
    bar->addWidget(m_pause);
    bar->addStretch(1);
    bar->addWidget(m_save);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);

    connect(m_span, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_view->setSpanMinutes(m_span->itemData(index).toInt()); });
    connect(m_pause, &QPushButton::toggled, m_view, &ChartView::setPaused);
    connect(m_save, &QPushButton::clicked, this, &ChartWindow::savePictureRequested);
    resize(760, 480);
}

void ChartWindow::addReading(qint32 rpm, qint32 tinj, qint32 pump, qint32 pause)
{
    m_trace.append({m_view->now(), rpm, tinj, pump, pause, false});
    m_view->touch();
}

void ChartWindow::addFlash()
{
    m_trace.addFlash(m_view->now());
    m_view->touch();
}

void ChartWindow::markGap()
{
    m_trace.markGap();
}

void ChartWindow::clear()
{
    m_trace.clear();
    m_view->touch();
}

void ChartWindow::setCaptions(const QString &title, const QString &pause, const QString &save,
                              const std::array<QString, 4> &names)
{
    setWindowTitle(title);
    m_pause->setText(pause);
    m_save->setText(save);
    m_view->setLaneNames(names);
}

bool ChartWindow::savePicture(const QString &path) const
{
    return m_view->grab().save(path, "PNG");
}

} // namespace oe
