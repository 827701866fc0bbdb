#include "sliderpanel.h"

#include "accessibility.h"
#include "boxqueue.h"
#include "focusguard.h"
#include "maptexts.h"
#include "numbertexts.h"
#include "valuerule.h"
#include "valuetexts.h"
#include "windowcontext.h"
#include "windowlayout.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace oe {

using namespace layout;

namespace {

// How long after a key release a press of the key still counts as its auto-repeat. The pair comes
// from the display server in one piece (measured on X11: both carry the same time stamp); a person
// takes far longer to press again.
constexpr std::chrono::milliseconds kKeyRepeatGrace{30};

bool isSliderKey(int key)
{
    switch (key) {
    case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down:
    case Qt::Key_PageUp: case Qt::Key_PageDown: case Qt::Key_Home: case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

// A slider's range and step come from the value rule; its page step and ticks are the layout's. It
// starts at the value given (in the controller's units), else at its minimum.
SliderSpec sliderSpec(ParameterIndex index, int largeChange, int tickFrequency, std::optional<qint32> start = {})
{
    const SliderPositions p = sliderPositions(index);
    return {p.min, p.max, p.step, largeChange, tickFrequency, start ? positionFromField(index, *start) : p.min};
}

} // namespace

SliderPanel::SliderPanel(WindowContext &context, const Frames &frames)
    : QObject(context.window), m_context(context), m_session(*context.session), m_frames(frames)
{
    QGroupBox *frame = frames.Frame7;
    RpmMultiplierSlider = makeSlider(frame, "RpmMultiplierSlider", twips(120, 315, 2850, 495), sliderSpec(ParameterIndex::RpmMultiplier, 1, 1, 100));
    RpmMultiplierLabel = makeLabel(frame, "RpmMultiplierLabel", QString(), twips(3045, 420, 1335, 375));

    frame = frames.Frame2;
    RpmMinSlider = makeSlider(frame, "RpmMinSlider", twips(120, 420, 2850, 495), sliderSpec(ParameterIndex::RpmMin, 500, 1000));
    RpmMinLabel = makeLabel(frame, "RpmMinLabel", QString(), twips(3045, 420, 1335, 375));

    frame = frames.Frame3;
    Label4 = makeLabel(frame, "Label4", QStringLiteral("Tinj Min"), twips(3045, 240, 1335, 375));
    TinjMinSlider = makeSlider(frame, "TinjMinSlider", twips(120, 480, 2850, 495), sliderSpec(ParameterIndex::TinjMin, 50, 5000));
    TinjMinLabel = makeLabel(frame, "TinjMinLabel", QString(), twips(3045, 600, 1335, 375));
    Label5 = makeLabel(frame, "Label5", QStringLiteral("Tinj Max"), twips(3045, 1080, 1335, 375));
    TinjMaxSlider = makeSlider(frame, "TinjMaxSlider", twips(120, 1320, 2850, 495), sliderSpec(ParameterIndex::TinjMax, 50, 5000));
    TinjMaxLabel = makeLabel(frame, "TinjMaxLabel", QString(), twips(3045, 1440, 1335, 375));

    frame = frames.Frame4;
    Label10 = makeLabel(frame, "Label10", QStringLiteral("Carico Min"), twips(3045, 240, 1335, 375));
    PumpMinSlider = makeSlider(frame, "PumpMinSlider", twips(120, 480, 2850, 495), sliderSpec(ParameterIndex::MinPumpCycles, 5, 5));
    PumpMinLabel = makeLabel(frame, "PumpMinLabel", QString(), twips(3045, 600, 1335, 375));
    Label7 = makeLabel(frame, "Label7", QStringLiteral("Carico Max"), twips(3045, 1080, 1335, 375));
    PumpMaxSlider = makeSlider(frame, "PumpMaxSlider", twips(120, 1320, 2850, 495), sliderSpec(ParameterIndex::MaxPumpCycles, 5, 5));
    PumpMaxLabel = makeLabel(frame, "PumpMaxLabel", QString(), twips(3045, 1440, 1335, 375));

    frame = frames.Frame6;
    Label6 = makeLabel(frame, "Label6", QStringLiteral("Carico Min"), twips(3045, 240, 1335, 375));
    SliderPausaAlMinimo = makeSlider(frame, "SliderPausaAlMinimo", twips(120, 480, 2850, 495), sliderSpec(ParameterIndex::MinLoadPumpPause, 5, 100));
    PausaMinLabel = makeLabel(frame, "PausaMinLabel", QString(), twips(3045, 600, 1335, 375));
    Label11 = makeLabel(frame, "Label11", QStringLiteral("Carico Max"), twips(3045, 1080, 1335, 375));
    SliderPausaAlMassimo = makeSlider(frame, "SliderPausaAlMassimo", twips(120, 1320, 2850, 495), sliderSpec(ParameterIndex::MaxLoadPumpPause, 5, 100));
    PausaMaxLabel = makeLabel(frame, "PausaMaxLabel", QString(), twips(3045, 1440, 1335, 375));

    m_sliders = {PumpMinSlider, PumpMaxSlider, RpmMinSlider, TinjMinSlider, TinjMaxSlider,
                 SliderPausaAlMinimo, SliderPausaAlMassimo, RpmMultiplierSlider};
    m_valueLabels = {PumpMinLabel, PumpMaxLabel, RpmMinLabel, TinjMinLabel, TinjMaxLabel,
                     PausaMinLabel, PausaMaxLabel, RpmMultiplierLabel};
    for (int i = 0; i < kParameterCount; ++i) {
        QSlider *slider = m_sliders[size_t(i)];
        slider->installEventFilter(this);
        // Every move the slider makes of its own under a gesture (a page at a press beside the knob,
        // repeated while it is held, a key, a drag) shows at once on the label: the end writes it.
        connect(slider, &QAbstractSlider::actionTriggered, this, [this, i] {
            if (inGesture(ParameterIndex(i)))
                previewSlider(ParameterIndex(i));
        });
    }
    m_keyEnd = new QTimer(this);
    m_keyEnd->setSingleShot(true);
    m_keyEnd->setInterval(kKeyRepeatGrace);
    connect(m_keyEnd, &QTimer::timeout, this, [this] {
        if (m_keyEditing[size_t(m_keyEndIndex)])
            endGesture(m_keyEndIndex);
    });
    for (QLabel *label : m_valueLabels)
        label->installEventFilter(this);

    connect(&m_session, &Session::stateChanged, this, &SliderPanel::onSessionState);
    connect(&m_session, &Session::parameterRead, this, [this](ParameterIndex index) { showParameter(index); });
    connect(&m_session, &Session::parameterKnownChanged, this, &SliderPanel::onParameterKnownChanged);
    connect(&m_session, &Session::writeFinished, this, &SliderPanel::onWriteFinished);
}

bool SliderPanel::keyGestureEnding() const
{
    return m_keyEnd->isActive();
}

void SliderPanel::resetView()
{
    for (QLabel *label : m_valueLabels)
        label->clear();
    const std::array<QSlider *, 8> sliders{RpmMinSlider, TinjMinSlider, TinjMaxSlider, PumpMinSlider,
                                           PumpMaxSlider, SliderPausaAlMinimo, SliderPausaAlMassimo,
                                           RpmMultiplierSlider};
    for (QSlider *slider : sliders)
        slider->setValue(slider == RpmMultiplierSlider ? 5 : 0); // each slider clamps to its minimum
    for (QSlider *slider : sliders)
        slider->setEnabled(false);
    for (int i = 0; i < kParameterCount; ++i)
        describeParameter(ParameterIndex(i));
}

void SliderPanel::applyCaptions()
{
    const QList<QPair<QGroupBox *, int>> frames{
        {m_frames.Frame2, Caption::RpmMinFrame},        {m_frames.Frame3, Caption::InjectionTimeFrame},
        {m_frames.Frame4, Caption::PumpTimeFrame},      {m_frames.Frame6, Caption::PumpPauseFrame},
        {m_frames.Frame7, Caption::RpmMultiplierFrame},
    };
    const QList<QPair<QLabel *, int>> labels{
        {Label4, Caption::TinjMinName},       {Label5, Caption::TinjMaxName},
        {Label10, Caption::PumpMinLoadName},  {Label7, Caption::PumpMaxLoadName},
        {Label6, Caption::PauseMinLoadName},  {Label11, Caption::PauseMaxLoadName},
    };
    // An entry no language filled keeps the caption the control has, rather than blanking it.
    for (const auto &[frame, entry] : frames)
        if (const QString text = m_context.captions.text(entry); !text.isEmpty())
            frame->setTitle(text);
    for (const auto &[label, entry] : labels)
        if (const QString text = m_context.captions.text(entry); !text.isEmpty())
            label->setText(text);
    for (int i = 0; i < kParameterCount; ++i)
        describeParameter(ParameterIndex(i));
}

void SliderPanel::describeParameter(ParameterIndex index)
{
    const QSlider *slider = sliderFor(index);
    const QString shown = labelFor(index)->text();
    const QString description =
        shown.isEmpty() || shown == kUnknownText
            ? m_context.caption(Caption::ValueNotKnown)
            : fillPlaceholders(m_context.caption(Caption::ValueAndRange),
                               {shown, displayText(index, fieldFromPosition(index, slider->minimum())),
                                displayText(index, fieldFromPosition(index, slider->maximum()))});
    const QString name = parameterCaption(index);
    const double unit = displayPerField(index);
    const qint32 field = m_session.parameterKnown(index) || inGesture(index) || m_commitPending[size_t(index)]
                             ? m_session.Parameters[index]
                             : fieldFromPosition(index, slider->minimum());
    setSliderValue(sliderFor(index), {shown.isEmpty() ? QString(kUnknownText) : shown, field * unit,
                                      fieldFromPosition(index, slider->minimum()) * unit,
                                      fieldFromPosition(index, slider->maximum()) * unit,
                                      (fieldFromPosition(index, slider->minimum() + slider->singleStep())
                                       - fieldFromPosition(index, slider->minimum())) * unit});
    describe(sliderFor(index), name, description);
    describe(labelFor(index), name, description);
}

QString SliderPanel::parameterCaption(ParameterIndex index) const
{
    auto within = [](const QGroupBox *frame, const QLabel *row) {
        return QStringLiteral("%1 – %2").arg(frame->title(), row->text());
    };
    switch (index) {
    case ParameterIndex::MinPumpCycles: return within(m_frames.Frame4, Label10);
    case ParameterIndex::MaxPumpCycles: return within(m_frames.Frame4, Label7);
    case ParameterIndex::RpmMin: return m_frames.Frame2->title();
    case ParameterIndex::TinjMin: return Label4->text();
    case ParameterIndex::TinjMax: return Label5->text();
    case ParameterIndex::MinLoadPumpPause: return within(m_frames.Frame6, Label6);
    case ParameterIndex::MaxLoadPumpPause: return within(m_frames.Frame6, Label11);
    case ParameterIndex::RpmMultiplier: return m_frames.Frame7->title();
    }
    return QString();
}

// The sliders take input only while the session is connected and no sequence runs, and a slider only
// once its value was read: one never read must never write its idle lower bound.
void SliderPanel::onSessionState(Session::State state)
{
    switch (state) {
    case Session::State::Connecting:
        break;
    case Session::State::Connected:
        for (int i = 0; i < kParameterCount; ++i)
            m_sliders[size_t(i)]->setEnabled(m_session.parameterKnown(ParameterIndex(i)));
        for (int i = 0; i < kParameterCount; ++i)
            if (!m_session.parameterKnown(ParameterIndex(i)))
                showParameter(ParameterIndex(i));
        break;
    case Session::State::Busy:
        dropGestures();
        for (QSlider *slider : m_sliders)
            slider->setEnabled(false);
        break;
    case Session::State::Idle:
        dropGestures();
        m_commitPending.fill(false);
        resetView();
        break;
    }
    if (state == Session::State::Idle && m_session.endedByPortLoss() && m_valueEditor
        && !m_valueEditor->text().trimmed().isEmpty())
        m_unsent = QStringLiteral("%1 %2").arg(parameterCaption(m_editorIndex), m_valueEditor->text().trimmed());
    if (state != Session::State::Connected)
        closeValueEditor();
}

void SliderPanel::onParameterKnownChanged(ParameterIndex index)
{
    // The idle view has empty labels; a session that ends makes everything unknown on its way there.
    if (m_session.state() != Session::State::Idle)
        showParameter(index);
}

// A known parameter shows the controller's value on its slider and label, and takes input while the
// session is connected (and no commit of it is on its way, see sliderEvent); an unknown one shows
// "---" and takes none. A value beyond the slider's range is the controller's all the same: the label
// shows it as held, the slider stands at its end, and both say so in their tooltip; the slider still
// takes input, so the technician can put it right.
void SliderPanel::showParameter(ParameterIndex index)
{
    QSlider *slider = sliderFor(index);
    QLabel *label = labelFor(index);
    if (!m_session.parameterKnown(index)) {
        // Nothing may be written from a value the session no longer knows: the gesture ends unwritten.
        m_buttonHeld[size_t(index)] = m_keyEditing[size_t(index)] = m_showDeferred[size_t(index)] = false;
        slider->setEnabled(false);
        label->setText(kUnknownText);
        label->setToolTip({});
        slider->setToolTip({});
        describeParameter(index);
        return;
    }
    if (inGesture(index)) {
        m_showDeferred[size_t(index)] = true;
        return;
    }
    const qint32 value = *m_session.controllerValue(index);
    slider->setValue(positionFromField(index, value));
    label->setText(displayText(index, value));
    const qint32 lowest = fieldFromPosition(index, slider->minimum());
    const qint32 highest = fieldFromPosition(index, slider->maximum());
    const QString beyond = value < lowest || value > highest
                               ? m_context.caption(Caption::BeyondSlider)
                                     .arg(displayText(index, value), displayText(index, lowest), displayText(index, highest))
                               : QString();
    label->setToolTip(beyond);
    slider->setToolTip(beyond);
    slider->setEnabled(m_session.state() == Session::State::Connected);
    describeParameter(index);
}

void SliderPanel::onWriteFinished(ParameterIndex index, bool confirmed)
{
    m_commitPending[size_t(index)] = false;
    if (m_session.state() != Session::State::Connected)
        return;
    if (confirmed)
        sliderFor(index)->setEnabled(m_session.parameterKnown(index));
    else
        showParameter(index); // what the read after it found, or "---"
}

void SliderPanel::previewSlider(ParameterIndex index)
{
    QSlider *slider = sliderFor(index);
    if (!slider->isEnabled())
        return;
    // The knob's position, not the value: during an action the value follows only after the signal.
    const qint32 field = fieldFromPosition(index, slider->sliderPosition());
    m_gestureValue[size_t(index)] = field;
    m_session.previewParameter(index, field);
    labelFor(index)->setText(displayText(index, field));
    describeParameter(index);
}

void SliderPanel::startGesture(ParameterIndex index)
{
    if (inGesture(index))
        return;
    // Until the knob moves, the gesture stands on the value shown (a value the controller told, off
    // the step or past the slider's end, is written back as it is).
    m_gestureValue[size_t(index)] = m_session.Parameters[index];
}

bool SliderPanel::inGesture(ParameterIndex index) const
{
    return m_buttonHeld[size_t(index)] || m_keyEditing[size_t(index)];
}

void SliderPanel::endGesture(ParameterIndex index)
{
    const size_t i = size_t(index);
    if (!inGesture(index))
        return;
    m_buttonHeld[i] = m_keyEditing[i] = false;
    commitSlider(index, m_gestureValue[i]);
    // A read answered during the gesture shows now, unless the write just queued is about to tell.
    if (std::exchange(m_showDeferred[i], false) && !m_commitPending[i])
        showParameter(index);
}

void SliderPanel::dropGestures()
{
    m_buttonHeld.fill(false);
    m_keyEditing.fill(false);
    m_showDeferred.fill(false);
}

void SliderPanel::commitSlider(ParameterIndex index, qint32 wanted, Recorder::Cause cause)
{
    QSlider *slider = sliderFor(index);
    if (!slider->isEnabled() || m_commitPending[size_t(index)] || m_session.state() != Session::State::Connected)
        return;
    // The slider stays enabled while its commit is on its way: a disabled one would hand its focus to
    // the next control. sliderEvent keeps its input out meanwhile.
    m_commitPending[size_t(index)] = true;
    m_session.previewParameter(index, wanted);
    const auto partner = pairPartner(index);
    if (partner && !m_session.parameterKnown(*partner))
        m_context.recorder->setCause(Recorder::Cause::Read); // the session reads the partner first
    // The session holds the value to what the controller has for its partner (waiting for a write of
    // it on its way, reading it when unknown); without its answer nothing is written.
    const bool taken = m_session.commitHeld(index, wanted, [this, index, partner, cause, wanted](const HeldCommit &commit) {
        switch (commit.kind) {
        case HeldCommit::Kind::Writing:
            if (commit.held) {
                sliderFor(index)->setValue(positionFromField(index, commit.value));
                labelFor(index)->setText(displayText(index, commit.value));
                describeParameter(index);
                // The knob jumped back: say why, so the technician does not think the drag was lost.
                ValueContext context;
                context.allowBeyondSlider = true;
                context.pairCheck = true;
                context.partnerValue = m_session.controllerValue(*partner);
                emit note(valueVerdictText(judgeValue(index, double(wanted), context), m_context.captions, words()));
            }
            m_context.recorder->commitStarted(index, commit.value, cause);
            break;
        case HeldCommit::Kind::PartnerUnknown:
            refuseCommit(index, *partner);
            break;
        case HeldCommit::Kind::Cancelled:
            m_commitPending[size_t(index)] = false; // a sequence took over; it shows its own values
            break;
        }
    });
    if (!taken)
        m_commitPending[size_t(index)] = false;
}

void SliderPanel::refuseCommit(ParameterIndex index, ParameterIndex partner)
{
    m_commitPending[size_t(index)] = false;
    m_session.revertPreview(index);
    showParameter(index);
    m_context.tell(m_context.caption(Caption::PartnerUnknown).arg(parameterCaption(partner)));
}

bool SliderPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (valueEditorEvent(watched, event))
        return true;
    const auto found = std::find(m_sliders.begin(), m_sliders.end(), watched);
    if (found != m_sliders.end() && sliderEvent(ParameterIndex(found - m_sliders.begin()), event))
        return true;
    return QObject::eventFilter(watched, event);
}

// A slider previews while the user moves it (a drag, or its keys) and commits when the gesture ends
// (the button or the key released). A mouse passing over it with no button held changes nothing,
// and neither does the wheel: a knob must never stand somewhere the label and the controller do not.
bool SliderPanel::sliderEvent(ParameterIndex index, QEvent *event)
{
    QSlider *slider = sliderFor(index);
    // While its commit is on its way the slider takes no input; the focus a click gives it stays.
    if (m_commitPending[size_t(index)]) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::MouseButtonRelease:
        case QEvent::Wheel:
            event->accept();
            return true;
        case QEvent::KeyPress:
            if (isSliderKey(static_cast<QKeyEvent *>(event)->key())) {
                event->accept();
                return true;
            }
            break;
        default:
            break;
        }
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // The slider moves its knob itself (beside the knob: a page, then again while held); its
        // actions preview.
        if (slider->isEnabled()) {
            startGesture(index);
            m_buttonHeld[size_t(index)] = true;
        }
        return false;
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease: {
        const bool release = event->type() == QEvent::MouseButtonRelease;
        if (!release && static_cast<QMouseEvent *>(event)->buttons() == Qt::NoButton)
            return false;
        if (slider->isEnabled()) {
            startGesture(index);
            m_buttonHeld[size_t(index)] = true;
        }
        // Let the slider move its knob first, then act on where it stands.
        slider->event(event);
        event->accept();
        if (release)
            endGesture(index);
        else if (inGesture(index))
            previewSlider(index);
        return true;
    }
    case QEvent::Wheel:
        event->accept();
        return true;
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (!isSliderKey(key->key()) || !slider->isEnabled())
            return false;
        // A slider the focus reached by itself (handed on from a control being disabled) is not the
        // technician's: its keys write nothing.
        if (!m_context.focus->keysAllowed(slider)) {
            event->accept();
            return true;
        }
        if (m_keyEndIndex == index)
            m_keyEnd->stop(); // the release just before was the auto-repeat's: the gesture goes on
        startGesture(index);
        m_keyEditing[size_t(index)] = true;
        slider->event(event);
        previewSlider(index);
        return true;
    }
    case QEvent::KeyRelease: {
        auto *key = static_cast<QKeyEvent *>(event);
        // Auto-repeat sends releases too; only the last one ends the gesture.
        if (!isSliderKey(key->key()) || key->isAutoRepeat() || !m_keyEditing[size_t(index)])
            return false;
        m_keyEndIndex = index;
        m_keyEnd->start();
        return true;
    }
    case QEvent::FocusOut:
        // The focus can go (a click elsewhere, a box) while a key or a button is held: the gesture
        // ends there, with what its knob shows.
        endGesture(index);
        return false;
    default:
        return false;
    }
}

} // namespace oe
