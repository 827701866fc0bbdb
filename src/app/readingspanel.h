#pragma once

#include "session.h"

#include <QObject>
#include <QTimer>

class QGroupBox;
class QLabel;
class QWidget;

namespace oe {

class IntervalTimer;
struct WindowContext;

// The live readings in the status frame, the pump lamp that flashes at the controller's pause, and
// the line over the logo that says when the controller does not answer or the line is noisy.
class ReadingsPanel : public QObject
{
    Q_OBJECT
public:
    // Fills the status frame; the link line goes over the logo's place in the client area.
    ReadingsPanel(WindowContext &context, QGroupBox *frame, QWidget *client, const QRect &logo);

    void resetView();
    void applyCaptions();
    void stopTimers();
    // The REC mark beside the status frame while a recording goes to path; none for an empty path.
    void showRecording(const QString &path);
    // A word about a value the technician chose that went out otherwise: shown over the logo for
    // kNoteMs, ahead of the link's state, which comes back after it.
    void showNote(const QString &text);
    // A line over the logo that stays until it is replaced or cleared (empty), also with no session.
    void showStanding(const QString &text);
    // The poll is held (a map dialog is open): the readings say so, greyed, instead of standing still
    // as if current.
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    static constexpr int kNoteMs = 5000;

    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label8 = nullptr;
    QLabel *RpmLabel = nullptr, *TinjLabel = nullptr, *PumpLabel = nullptr, *PauseLabel = nullptr;
    // What the window knows about the link beyond the layout's controls: "the controller does not
    // answer". Hidden while there is nothing to say.
    QLabel *LinkStateLabel = nullptr;
    // "REC" and the file's name in red while a recording runs ("RecordingMark").
    QLabel *RecordingMark = nullptr;
    IntervalTimer *TimerLampeggio = nullptr, *TimerPausaLampeggio = nullptr;

signals:
    // The lamp lit for a pump stroke.
    void flashed();

private:
    void onSessionState(Session::State state);
    void onLiveReadings();
    void onControllerAnswering(bool answering);
    // The link line over the logo: a controller that does not answer, else a noisy line, else nothing.
    void showLinkState();
    void onPauseTick();
    void onFlashEnd();
    void setLamp(bool on);
    // The names and descriptions assistive technology reads: what each reading is, its value with
    // its unit, the lamp's state, the link line and the REC mark, in the language in use.
    void describeReadings();

    WindowContext &m_context;
    Session &m_session;
    bool m_lampOn = false;
    QString m_recordingPath;
    QString m_note;
    QString m_standing;
    bool m_paused = false;
    QTimer *m_noteTimer = nullptr;
};

} // namespace oe
