#include "readingspanel.h"

#include "accessibility.h"
#include "intervaltimer.h"
#include "maptexts.h"
#include "numbertexts.h"
#include "windowcontext.h"
#include "windowlayout.h"

#include <QDir>
#include <QFileInfo>

namespace oe {

using namespace layout;

namespace {
// A pause tick lights the lamp for this long.
constexpr int kFlashMs = 500;
// The controller counts the pump pause in 25 ms steps.
constexpr int kPauseStepMs = 25;
// Greyed while the poll is held: plainly not live.
const QColor kPausedBack(205, 205, 205);
const QColor kPausedText(90, 90, 90);
} // namespace

ReadingsPanel::ReadingsPanel(WindowContext &context, QGroupBox *frame, QWidget *client, const QRect &logo)
    : QObject(context.window), m_context(context), m_session(*context.session)
{
    Label1 = makeLabel(frame, "Label1", QStringLiteral("RPM"), twips(240, 480, 1095, 495), kCaptionBack);
    RpmLabel = makeLabel(frame, "RpmLabel", QString(), twips(1320, 480, 1335, 495), kLiveBack);
    Label2 = makeLabel(frame, "Label2", QStringLiteral("TINJ"), twips(240, 1080, 1095, 495), kCaptionBack);
    TinjLabel = makeLabel(frame, "TinjLabel", QString(), twips(1320, 1080, 1335, 495), kLiveBack);
    Label3 = makeLabel(frame, "Label3", QStringLiteral("PUMP"), twips(240, 1680, 1095, 495), kCaptionBack);
    PumpLabel = makeLabel(frame, "PumpLabel", QString(), twips(1320, 1680, 1335, 495), kLiveBack);
    Label8 = makeLabel(frame, "Label8", QStringLiteral("PAUSA"), twips(240, 2280, 1095, 495), kCaptionBack);
    PauseLabel = makeLabel(frame, "PauseLabel", QString(), twips(1320, 2280, 1335, 495), kLiveBack);
    for (QLabel *label : {Label1, Label2, Label3, Label8, RpmLabel, TinjLabel, PumpLabel, PauseLabel}) {
        label->setAlignment(Qt::AlignCenter);
        label->setFont(boldFont(11));
    }

    // Over the logo, the one place in the layout with room for a sentence where it covers no control.
    LinkStateLabel = named(new QLabel(client), "LinkStateLabel");
    LinkStateLabel->setGeometry(logo);
    LinkStateLabel->setFont(boldFont());
    LinkStateLabel->setWordWrap(true);
    LinkStateLabel->setAlignment(Qt::AlignCenter);
    LinkStateLabel->setAutoFillBackground(true);
    LinkStateLabel->hide();
    makeStatusLine(LinkStateLabel);

    // On the status frame's title line, right of its caption, where it covers nothing.
    RecordingMark = makeLabel(frame, "RecordingMark", QString(), twips(1140, 0, 1710, 255));
    RecordingMark->setFont(boldFont());
    RecordingMark->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette red = RecordingMark->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    RecordingMark->setPalette(red);
    RecordingMark->hide();

    TimerLampeggio = new IntervalTimer(QStringLiteral("TimerLampeggio"), 0, this);
    // The pause moves with the engine's load at every status reply; the lamp keeps its rhythm.
    TimerPausaLampeggio = new IntervalTimer(QStringLiteral("TimerPausaLampeggio"), 0, this,
                                            IntervalTimer::Phase::KeepPhase);
    connect(TimerPausaLampeggio, &IntervalTimer::tick, this, &ReadingsPanel::onPauseTick);
    connect(TimerLampeggio, &IntervalTimer::tick, this, &ReadingsPanel::onFlashEnd);

    connect(&m_session, &Session::stateChanged, this, &ReadingsPanel::onSessionState);
    connect(&m_session, &Session::liveReadingsChanged, this, &ReadingsPanel::onLiveReadings);
    connect(&m_session, &Session::controllerAnsweringChanged, this, &ReadingsPanel::onControllerAnswering);
    connect(&m_session, &Session::lineQualityChanged, this, &ReadingsPanel::showLinkState);
    connect(&m_session, &Session::rereadPendingChanged, this, &ReadingsPanel::showLinkState);
}

void ReadingsPanel::resetView()
{
    for (QLabel *label : {RpmLabel, TinjLabel, PumpLabel, PauseLabel})
        label->clear();
    setLamp(false);
    describeReadings();
}

void ReadingsPanel::applyCaptions()
{
    const QList<QPair<QLabel *, int>> labels{{Label1, Caption::RpmName},
                                              {Label2, Caption::TinjName},
                                              {Label3, Caption::PumpName},
                                              {Label8, Caption::PauseName}};
    // An entry no language filled keeps the caption the control has, rather than blanking it.
    for (const auto &[label, entry] : labels)
        if (const QString text = m_context.captions.text(entry); !text.isEmpty())
            label->setText(text);
    showLinkState();
    describeReadings();
}

void ReadingsPanel::showRecording(const QString &path)
{
    m_recordingPath = QDir::toNativeSeparators(path);
    const QString text = QStringLiteral("REC ") + QFileInfo(path).fileName();
    RecordingMark->setText(RecordingMark->fontMetrics().elidedText(text, Qt::ElideMiddle, RecordingMark->width()));
    RecordingMark->setToolTip(m_recordingPath);
    RecordingMark->setVisible(!path.isEmpty());
    describeReadings();
}

void ReadingsPanel::describeReadings()
{
    const auto value = [this](const QLabel *label, int entry) {
        const QString text = label->text();
        if (text.isEmpty() || text == kUnknownText)
            return m_context.caption(Caption::ValueNotKnown);
        return entry < 0 ? text : fillPlaceholders(m_context.caption(entry), {text});
    };
    describe(RpmLabel, Label1->text(), value(RpmLabel, Caption::RpmReading));
    describe(TinjLabel, Label2->text(), value(TinjLabel, Caption::TinjReading));
    describe(PumpLabel, Label3->text(), value(PumpLabel, -1));
    describe(PauseLabel, Label8->text(), value(PauseLabel, -1));
    describe(Label3, m_context.caption(m_lampOn ? Caption::PumpOn : Caption::PumpOff),
             m_context.caption(Caption::LampHint));
    describe(LinkStateLabel, m_context.caption(Caption::LinkStateName), LinkStateLabel->text());
    describe(RecordingMark,
             m_recordingPath.isEmpty() ? QString()
                                       : fillPlaceholders(m_context.caption(Caption::RecordingTo), {QFileInfo(m_recordingPath).fileName()}),
             m_recordingPath);
}

void ReadingsPanel::stopTimers()
{
    TimerLampeggio->setEnabled(false);
    TimerPausaLampeggio->setEnabled(false);
}

void ReadingsPanel::onSessionState(Session::State state)
{
    if (state != Session::State::Idle)
        return;
    stopTimers();
    resetView();
    m_note.clear();
    showLinkState();
}

void ReadingsPanel::showStanding(const QString &text)
{
    m_standing = text;
    showLinkState();
}

void ReadingsPanel::setPaused(bool paused)
{
    if (m_paused == paused)
        return;
    m_paused = paused;
    for (QLabel *label : {RpmLabel, TinjLabel, PumpLabel, PauseLabel}) {
        setBackColor(label, paused ? kPausedBack : kLiveBack);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, paused ? kPausedText : QColor(Qt::black));
        label->setPalette(palette);
    }
    if (paused) {
        if (m_session.state() != Session::State::Idle)
            for (QLabel *label : {RpmLabel, TinjLabel, PumpLabel, PauseLabel})
                label->setText(m_context.caption(Caption::ReadingsPaused));
        stopTimers();
        setLamp(false);
        describeReadings();
    } else if (m_session.state() != Session::State::Idle && m_session.controllerAnswering()) {
        onLiveReadings(); // the last answer until the next one comes
    } else if (m_session.state() != Session::State::Idle) {
        onControllerAnswering(false);
    }
}

void ReadingsPanel::showNote(const QString &text)
{
    if (!m_noteTimer) {
        m_noteTimer = new QTimer(this);
        m_noteTimer->setSingleShot(true);
        connect(m_noteTimer, &QTimer::timeout, this, [this] {
            m_note.clear();
            showLinkState();
        });
    }
    m_note = text;
    m_noteTimer->start(kNoteMs);
    showLinkState();
}

void ReadingsPanel::showLinkState()
{
    const bool open = m_session.state() != Session::State::Idle;
    // Values the silence left unknown are read again once the controller answers: the line says so.
    const QString reread = m_session.rereadPending() ? m_context.caption(Caption::RereadAfterSilence) : QString();
    if (!m_note.isEmpty()) {
        LinkStateLabel->setText(m_note);
    } else if (!m_standing.isEmpty()) {
        LinkStateLabel->setText(m_standing);
    } else if (open && !m_session.controllerAnswering()) {
        LinkStateLabel->setText(m_context.caption(Caption::NotAnswering) + (reread.isEmpty() ? QString() : u'\n' + reread));
    } else if (open && !reread.isEmpty()) {
        LinkStateLabel->setText(reread);
    } else if (open && m_session.lineNoisy()) {
        LinkStateLabel->setText(m_context.caption(Caption::NoisyLine).arg(m_session.lineFailedPercent()));
    } else {
        LinkStateLabel->hide();
        LinkStateLabel->clear();
        describeReadings();
        return;
    }
    LinkStateLabel->show();
    describeReadings();
}

void ReadingsPanel::onControllerAnswering(bool answering)
{
    showLinkState();
    if (answering)
        return; // the readings and the lamp come back with the answer's readings
    // Readings the controller no longer confirms are not shown as if they were current, and a lamp
    // flashing on would say the pump runs.
    for (QLabel *label : {RpmLabel, TinjLabel, PumpLabel, PauseLabel})
        label->setText(kUnknownText);
    stopTimers();
    setLamp(false);
    describeReadings();
}

void ReadingsPanel::onLiveReadings()
{
    // A reply that was on its way as the poll was held: the readings stay paused.
    if (m_paused)
        return;
    const Session &s = m_session;
    RpmLabel->setText(plainNumberText(s.LiveRpm));
    TinjLabel->setText(plainNumberText(s.LiveTinj));
    PumpLabel->setText(secondsText(s.LivePump, SecondsUnit::Steps20ms));
    TimerPausaLampeggio->setEnabled(true);
    TimerPausaLampeggio->setInterval(s.LivePause * kPauseStepMs);
    PauseLabel->setText(pauseReadingText(s.LiveRpm, s.LivePause));
    describeReadings();
}

void ReadingsPanel::onPauseTick()
{
    // The threshold is the controller's RpmMin, not a slider's preview; unknown, the lamp stays dark.
    const std::optional<qint32> rpmMin = m_session.controllerValue(ParameterIndex::RpmMin);
    if (rpmMin && m_session.LiveRpm > *rpmMin) {
        setLamp(true);
        emit flashed();
    }
    TimerLampeggio->setInterval(kFlashMs);
    TimerLampeggio->setEnabled(true);
}

void ReadingsPanel::onFlashEnd()
{
    setLamp(false);
    TimerLampeggio->setEnabled(false);
}

void ReadingsPanel::setLamp(bool on)
{
    m_lampOn = on;
    setBackColor(Label3, on ? kLampOnBack : kCaptionBack);
    describe(Label3, m_context.caption(on ? Caption::PumpOn : Caption::PumpOff), m_context.caption(Caption::LampHint));
}

} // namespace oe
