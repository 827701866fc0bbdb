#include "chartwindow.h"

#include "accessibility.h"
#include "numbertexts.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QLocale>
#include <QPainter>
#include <QPaintEvent>
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
// How far the line's caps, joins and dots reach from a sample, in device pixels, with room to spare.
constexpr int kStripMargin = 6;

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
    m_refresh->setSingleShot(true);
    connect(m_refresh, &QTimer::timeout, this, &ChartView::refresh);
}

bool ChartView::Frame::sameScales(const Frame &other) const
{
    return plot == other.plot && deviceWidth == other.deviceWidth && spanMs == other.spanMs &&
           tops == other.tops && rpmMin == other.rpmMin;
}

void ChartView::setSpanMinutes(int minutes)
{
    m_spanMinutes = minutes;
    redrawAll();
}

void ChartView::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    m_pausedAt = now();
    lookSoon();
}

void ChartView::touch()
{
    m_newData = true;
    lookSoon();
}

// A look within kRefreshMs; looks never come closer together than that, so repaints stay at most ten a
// second however fast readings come.
void ChartView::lookSoon()
{
    if (isVisible() && (!m_refresh->isActive() || m_refresh->remainingTime() > kRefreshMs))
        m_refresh->start(kRefreshMs);
}

void ChartView::setRpmMin(qint32 rpmMin)
{
    // A new threshold changes the speed lane's frame, which draws the plot whole.
    m_rpmMin = rpmMin;
}

void ChartView::setLaneNames(const std::array<QString, 4> &names)
{
    m_names = names;
    redrawAll();
}

void ChartView::redrawAll()
{
    m_wholePending = true;
    lookSoon();
}

void ChartView::showEvent(QShowEvent *)
{
    m_wholePending = true;
    m_refresh->start(kIdleScrollMs);
}

void ChartView::hideEvent(QHideEvent *)
{
    m_refresh->stop();
}

// Moves the plot on at the readings' pace: when a reading came, or, while none comes, once a second so
// a silence is seen to pass. Between readings there is nothing new to show, only the same lines a few
// pixels further left, so the view does not wake for them. The labels beside the plot are repainted
// only when a scale changed.
void ChartView::refresh()
{
    if (!isVisible())
        return;
    m_refresh->start(kIdleScrollMs);
    if (m_wholePending) {
        update();
        return;
    }
    if (m_paused)
        return;
    const Frame f = currentFrame();
    if (!f.sameScales(m_imageFrame))
        update();
    else if (m_newData || f.tick != m_imageFrame.tick)
        moveOn(f);
}

// The screen already holds the plot as the image last stood: it is moved by the pixels time moved,
// in place, and only the columns drawn afresh are copied from the image. Copying the whole plot from
// the image at every look cost twice the memory traffic, which a large window felt. Where a move is
// not a whole number of the widget's pixels (a fractional scaling), the plot is copied whole.
void ChartView::moveOn(const Frame &f)
{
    const qreal ratio = devicePixelRatioF();
    const int step = qRound(ratio);
    const qint64 shift = f.tick - m_imageFrame.tick;
    if (ratio != step || shift % step != 0 || shift < 0 || shift >= f.deviceWidth) {
        update(f.plot);
        return;
    }
    const Frame before = m_imageFrame;
    const int wholeBefore = m_wholeDrawings;
    const int from = updatePlot(f);
    if (m_wholeDrawings != wholeBefore) {
        update();
        return;
    }
    // Only the rows a lane's content touched or touches are moved: its other rows are its background,
    // the same all across, which a move leaves as it was. The first column holds the lanes' left
    // sides, which stand still.
    if (shift > 0) {
        for (int lane = 0; lane < 4; ++lane) {
            const auto [top, bottom] = inkRows(before, lane);
            const auto [newTop, newBottom] = inkRows(f, lane);
            const QRect band(f.plot.left() + 1, f.plot.top() + std::min(top, newTop), f.plot.width() - 1,
                             std::max(bottom, newBottom) - std::min(top, newTop) + 1);
            if (band.height() > 0)
                scroll(-int(shift / step), 0, band);
        }
    }
    const int left = from / step;
    update(QRect(f.plot.left() + left, f.plot.top(), f.plot.width() - left, f.plot.height()));
}

// The rows of a lane (in the plot) that its content can touch in frame f: the line between the least
// and the greatest value shown, with room for the pen, its smoothing and the dots; the threshold; the
// flash marks. Empty (bottom < top) when nothing is drawn on the lane's background.
std::pair<int, int> ChartView::inkRows(const Frame &f, int lane) const
{
    const QRect box = laneBox(f, lane);
    const double top = f.tops[size_t(lane)];
    auto yOf = [&](double v) { return box.bottom() + 1 - std::clamp(v / top, 0.0, 1.0) * box.height(); };
    double least = INFINITY, greatest = -INFINITY;
    for (int i = firstSampleOf(f); i < m_trace.size() && shown(f, m_trace.at(i).ms); ++i) {
        const double v = displayValue(lane, m_trace.at(i));
        least = std::min(least, v);
        greatest = std::max(greatest, v);
    }
    int first = box.bottom() + 1, last = box.top() - 1;
    if (least <= greatest) {
        first = int(std::floor(yOf(greatest))) - 4;
        last = int(std::ceil(yOf(least))) + 4;
    }
    if (lane == 0 && f.rpmMin != kNoRpmMin) {
        const int y = int(std::floor(yOf(f.rpmMin)));
        first = std::min(first, y);
        last = std::max(last, y);
    }
    if (lane == 2) {
        first = std::min(first, box.bottom() - 10);
        last = box.bottom();
    }
    return {std::max(first, box.top()), std::min(last, box.bottom())};
}

QRect ChartView::plotArea() const
{
    return QRect(kLeftMargin, kTopMargin, qMax(0, width() - kLeftMargin - kRightMargin),
                 qMax(0, height() - kTopMargin - kBottomMargin));
}

ChartView::Frame ChartView::currentFrame() const
{
    Frame f;
    f.plot = plotArea();
    f.deviceWidth = qMax(1, qRound(f.plot.width() * devicePixelRatioF()));
    f.spanMs = qint64(m_spanMinutes) * 60000;
    const qint64 scaled = (m_paused ? m_pausedAt : now()) * f.deviceWidth;
    f.tick = scaled >= 0 ? scaled / f.spanMs : -((f.spanMs - 1 - scaled) / f.spanMs);
    f.rpmMin = m_rpmMin;
    const int count = m_trace.size();
    const int first = firstSampleOf(f);
    for (int lane = 0; lane < 4; ++lane) {
        double top = lane == 0 ? std::max(m_rpmMin, 0) : 0;
        for (int i = first; i < count && shown(f, m_trace.at(i).ms); ++i)
            top = std::max(top, displayValue(lane, m_trace.at(i)));
        f.tops[size_t(lane)] = roundTop(top);
    }
    return f;
}

QRect ChartView::laneBox(const Frame &f, int lane) const
{
    const double laneHeight = (f.plot.height() - 3.0 * kLaneGap) / 4.0;
    const int top = qRound(lane * (laneHeight + kLaneGap));
    const int bottom = qRound(lane * (laneHeight + kLaneGap) + laneHeight);
    return QRect(0, top, f.plot.width(), bottom - top);
}

// Both terms are whole device pixels apart from a fraction that depends on the sample alone, so a
// sample's place in a later frame is its place now less the pixels time moved, to the last bit.
double ChartView::xOf(const Frame &f, qint64 ms) const
{
    const double pixels = double(ms * f.deviceWidth) / double(f.spanMs) - double(f.tick - f.deviceWidth);
    return pixels / devicePixelRatioF();
}

// The first sample whose line can reach the plot: two before the first one within a few pixels of
// the left edge, so where the line begins (its cap) lies outside whatever is drawn.
int ChartView::firstSampleOf(const Frame &f) const
{
    const qint64 leftTicks = f.tick - f.deviceWidth - kStripMargin;
    int lo = 0, hi = m_trace.size();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (m_trace.at(mid).ms * f.deviceWidth < leftTicks * f.spanMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return qMax(0, lo - 2);
}

int ChartView::updatePlot(const Frame &f)
{
    const qreal ratio = devicePixelRatioF();
    const QSize deviceSize(f.deviceWidth, qMax(1, qRound(f.plot.height() * ratio)));
    const qint64 shift = f.tick - m_imageFrame.tick;
    if (m_wholePending || m_image.size() != deviceSize || !f.sameScales(m_imageFrame) || shift < 0 ||
        shift >= f.deviceWidth) {
        if (m_image.size() != deviceSize)
            m_image = QImage(deviceSize, QImage::Format_RGB32); // opaque: copied to the screen as it is
        m_image.setDevicePixelRatio(ratio);
        m_wholePending = m_newData = false;
        m_imageFrame = f;
        ++m_wholeDrawings;
        drawColumns(f, 0);
        return 0;
    }
    if (shift == 0 && !m_newData)
        return f.deviceWidth;

    // What the image lacks: the columns time brought in, and everything from the last sample it holds
    // on (the line leaving it, its join, the dot it may no longer need).
    int from = int(f.deviceWidth - shift);
    if (m_imageLastSample)
        from = std::min(from, int(std::floor(xOf(f, *m_imageLastSample) * ratio)));
    from = qMax(0, from - kStripMargin);

    m_imageFrame = f;
    m_newData = false;
    drawColumns(f, from);
    return from;
}

// The image is a ring: the plot's device column c lives in image column (c + tick) mod width, so time
// moving on needs no copy, only the columns it brought in drawn where the oldest ones were.
int ChartView::ringStart(const Frame &f) const
{
    return int((f.tick % f.deviceWidth + f.deviceWidth) % f.deviceWidth);
}

// Draws the plot from device column fromDevice to its right end, in at most two pieces of the ring.
void ChartView::drawColumns(const Frame &f, int fromDevice)
{
    m_pixelsDrawn += qint64(f.deviceWidth - fromDevice) * m_image.height();
    m_imageLastSample.reset();
    for (int i = m_trace.size() - 1; i >= 0 && !m_imageLastSample; --i)
        if (shown(f, m_trace.at(i).ms))
            m_imageLastSample = m_trace.at(i).ms;
    const int wrap = f.deviceWidth - ringStart(f); // the plot's column that lands in the image's first
    QPainter p(&m_image);
    if (fromDevice < wrap)
        drawPiece(p, f, fromDevice, wrap, ringStart(f));
    if (wrap < f.deviceWidth)
        drawPiece(p, f, std::max(fromDevice, wrap), f.deviceWidth, ringStart(f) - f.deviceWidth);
}

// Draws the plot's device columns [fromDevice, toDevice) moved by shiftDevice in the image. What a
// column shows depends only on the frame and the trace, never on where the drawing began.
void ChartView::drawPiece(QPainter &p, const Frame &f, int fromDevice, int toDevice, int shiftDevice)
{
    const qreal ratio = m_image.devicePixelRatio();
    p.resetTransform();
    p.translate(shiftDevice / ratio, 0);
    const QRectF strip(fromDevice / ratio, 0, (toDevice - fromDevice) / ratio, f.plot.height());
    p.setClipping(false);
    p.fillRect(strip, Qt::white);

    const int count = m_trace.size();
    const int first = firstSampleOf(f);
    // The line into the strip starts two samples before the first one near it, for the same reason.
    int from = first;
    while (from < count && xOf(f, m_trace.at(from).ms) < strip.left() - kStripMargin)
        ++from;
    from = qMax(first, from - 2);

    for (int lane = 0; lane < 4; ++lane) {
        const QRect box = laneBox(f, lane);
        const double top = f.tops[size_t(lane)];
        auto yOf = [&](double v) { return box.bottom() + 1 - std::clamp(v / top, 0.0, 1.0) * box.height(); };
        p.setClipRect(QRectF(box).intersected(strip));
        p.fillRect(box, QColor(248, 248, 248));
        p.setPen(QColor(200, 200, 200));
        p.drawLine(box.topLeft(), box.topRight());
        p.drawLine(box.bottomLeft(), box.bottomRight());

        if (lane == 0 && f.rpmMin != kNoRpmMin) {
            // Dashes of four pixels every six, hung on the time axis so they travel with the plot.
            const qint64 leftTick = f.tick - f.deviceWidth;
            const int y = int(std::floor(yOf(f.rpmMin)));
            for (int c = fromDevice - int(((leftTick + fromDevice) % 6 + 6) % 6); c < toDevice; c += 6)
                p.fillRect(QRectF(c / ratio, y, 4 / ratio, 1), QColor(200, 0, 0));
        }
        if (lane == 2) {
            // One mark per flash of the pump lamp, along the lane's foot.
            p.setPen(QPen(QColor(220, 0, 0), 2));
            for (int i = 0; i < m_trace.flashCount(); ++i) {
                const qint64 at = m_trace.flashAt(i);
                const double x = xOf(f, at);
                if (x >= strip.left() - 2 && shown(f, at))
                    p.drawLine(QPointF(x, box.bottom() + 1), QPointF(x, box.bottom() + 1 - 8));
            }
        }

        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(kLaneColors[size_t(lane)], 1.5));
        QPainterPath path;
        bool open = false;
        for (int i = from; i < count; ++i) {
            const TraceSample &s = m_trace.at(i);
            if (!shown(f, s.ms))
                break;
            const QPointF point(xOf(f, s.ms), yOf(displayValue(lane, s)));
            if (!open || s.gapBefore)
                path.moveTo(point);
            else
                path.lineTo(point);
            open = true;
        }
        p.drawPath(path);
        // A lone sample between two gaps has no line to show it: a dot does.
        p.setBrush(kLaneColors[size_t(lane)]);
        for (int i = from; i < count; ++i) {
            const TraceSample &s = m_trace.at(i);
            if (!shown(f, s.ms))
                break;
            const bool alone = (s.gapBefore || i == 0) && (i + 1 >= count || m_trace.at(i + 1).gapBefore);
            if (alone)
                p.drawEllipse(QPointF(xOf(f, s.ms), yOf(displayValue(lane, s))), 2, 2);
        }
        p.setBrush(Qt::NoBrush);
        p.setRenderHint(QPainter::Antialiasing, false);
    }
}

void ChartView::paintEvent(QPaintEvent *event)
{
    ++m_paints;
    const Frame f = currentFrame();
    QPainter p(this);
    if (f.plot.width() < 10 || f.plot.height() < 40) {
        p.fillRect(rect(), Qt::white);
        return;
    }
    // A paint of part of the plot shows the image as it stands, for the screen around that part shows
    // it so; only a paint of the whole plot may move it on, or a change of scale, which paints all.
    const bool wholePlot = (QRegion(f.plot) - event->region()).isEmpty();
    if (wholePlot || m_wholePending || !f.sameScales(m_imageFrame)) {
        const int wholeBefore = m_wholeDrawings;
        updatePlot(f);
        if (m_wholeDrawings != wholeBefore && f.plot.contains(event->rect()))
            update(); // a scale changed since the look that asked for this: its label too
        else if (!wholePlot)
            update(f.plot);
    }
    if (!f.plot.contains(event->rect())) {
        p.fillRect(rect(), Qt::white);
        drawLabels(p, f);
    }
    // Only the columns this paint covers are copied from the image, in at most two pieces of the ring.
    const qreal ratio = m_image.devicePixelRatio();
    const int start = ringStart(m_imageFrame);
    const int wrap = m_image.width() - start; // the plot's column in the image's first
    const QRect dirty = event->rect() & f.plot;
    const int from = qMax(0, int(std::floor((dirty.left() - f.plot.left()) * ratio)));
    const int to = qMin(m_image.width(), int(std::ceil((dirty.right() + 1 - f.plot.left()) * ratio)));
    auto copy = [&](int fromColumn, int toColumn, int imageColumn) {
        if (fromColumn < toColumn)
            p.drawImage(QPointF(f.plot.left() + fromColumn / ratio, f.plot.top()), m_image,
                        QRectF(imageColumn, 0, toColumn - fromColumn, m_image.height()));
    };
    copy(from, qMin(to, wrap), start + from);
    copy(qMax(from, wrap), to, qMax(from, wrap) - wrap);
    // The lanes' sides stand still while the plot moves under them.
    p.setPen(QColor(200, 200, 200));
    for (int lane = 0; lane < 4; ++lane) {
        const QRect box = laneBox(f, lane).translated(f.plot.topLeft());
        p.drawLine(box.topLeft(), box.bottomLeft());
        p.drawLine(box.topRight(), box.bottomRight());
    }
}

// The scales, the lane names and the time axis: they change only with a scale, a name or the size.
void ChartView::drawLabels(QPainter &p, const Frame &f)
{
    QFont small = font();
    small.setPointSize(8);
    p.setFont(small);
    for (int lane = 0; lane < 4; ++lane) {
        const QRect box = laneBox(f, lane).translated(f.plot.topLeft());
        p.setPen(Qt::black);
        const QString unit = lane >= 2 ? QStringLiteral(" s") : QString();
        p.drawText(QRectF(0, box.top(), kLeftMargin - 4, 14), Qt::AlignRight | Qt::AlignTop,
                   scaleText(f.tops[size_t(lane)]) + unit);
        p.drawText(QRectF(0, box.bottom() - 13, kLeftMargin - 4, 14), Qt::AlignRight | Qt::AlignBottom,
                   QStringLiteral("0"));
        p.setPen(kLaneColors[size_t(lane)]);
        p.drawText(QRectF(0, box.top(), kLeftMargin - 4, box.height()), Qt::AlignRight | Qt::AlignVCenter,
                   m_names[size_t(lane)]);
    }

    // Time axis: minutes and seconds before the right edge.
    p.setPen(Qt::black);
    const int stepS = m_spanMinutes <= 2 ? 30 : 60 * m_spanMinutes / 5;
    for (int s = 0; s <= m_spanMinutes * 60; s += stepS) {
        const double x = f.plot.left() + f.plot.width() * (1.0 - double(s) * 1000 / double(f.spanMs));
        p.drawLine(QPointF(x, f.plot.bottom()), QPointF(x, f.plot.bottom() + 4));
        const QString text = s == 0 ? QStringLiteral("0")
                                    : QStringLiteral("-%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
        p.drawText(QRectF(x - 30, f.plot.bottom() + 4, 60, kBottomMargin - 4), Qt::AlignCenter, text);
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
    // What a screen reader says of the chart: the latest readings and the span shown.
    if (isVisible())
        describe(m_view, windowTitle(),
                 QStringLiteral("%1 %2, %3 %4, %5 %6, %7 %8; %9 min")
                     .arg(m_names[0], plainNumberText(rpm), m_names[1], plainNumberText(tinj), m_names[2],
                          secondsText(pump, SecondsUnit::Steps20ms), m_names[3],
                          secondsText(pause, SecondsUnit::Steps25ms))
                     .arg(m_view->spanMinutes()));
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
    m_view->redrawAll();
}

void ChartWindow::setCaptions(const QString &title, const QString &pause, const QString &save,
                              const std::array<QString, 4> &names)
{
    setWindowTitle(title);
    setAccessibleName(title);
    m_names = names;
    m_pause->setText(pause);
    m_save->setText(save);
    m_view->setLaneNames(names);
}

bool ChartWindow::savePicture(const QString &path) const
{
    return m_view->grab().save(path, "PNG");
}

} // namespace oe
