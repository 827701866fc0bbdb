#pragma once

#include "recorder.h"
#include "session.h"
#include "valuerule.h"
#include "valuetexts.h"

#include <QObject>

#include <array>
#include <utility>

class QLineEdit;
class QGroupBox;
class QLabel;
class QSlider;
class QTimer;

namespace oe {

struct WindowContext;

// What one unit of a parameter's label is worth in the controller's units: pump times and pauses
// are shown and typed in seconds, the others as the controller counts them.
double displayPerField(ParameterIndex index);

// The eight parameters: each slider previews while it moves and commits when the gesture ends (mouse
// or keys), held to its interlock partner; the value labels show what the controller holds, and the
// exact-value editor takes a typed value where a slider cannot reach every step.
class SliderPanel : public QObject
{
    Q_OBJECT
public:
    // The frames the layout gives the parameters, in the layout's order.
    struct Frames {
        QGroupBox *Frame7, *Frame2, *Frame3, *Frame4, *Frame6;
    };
    SliderPanel(WindowContext &context, const Frames &frames);

    QSlider *sliderFor(ParameterIndex index) const { return m_sliders[size_t(index)]; }
    QLabel *labelFor(ParameterIndex index) const { return m_valueLabels[size_t(index)]; }
    // The exact-value editor while one is open ("ValueEditor"), and the line under it saying what the
    // value rule makes of the text ("ValueEditorNote").
    QLineEdit *valueEditor() const { return m_valueEditor; }
    QLabel *valueEditorNote() const { return m_editorNote; }
    // A key was released and the gesture ends unless a press follows at once.
    bool keyGestureEnding() const;
    // Opens the editor over a parameter's value label, as a double-click on it does.
    bool openValueEditor(ParameterIndex index);
    // The name a technician knows the parameter by: its frame's caption, and the row's caption where
    // the frame holds two rows, all in the language shown.
    QString parameterCaption(ParameterIndex index) const;
    void resetView();
    void applyCaptions();
    // The value typed in the editor when the port went away, with the parameter's name; "" for none.
    // Once.
    QString takeUnsentValue() { return std::exchange(m_unsent, {}); }

    QSlider *RpmMultiplierSlider = nullptr, *RpmMinSlider = nullptr, *TinjMinSlider = nullptr,
            *TinjMaxSlider = nullptr, *PumpMinSlider = nullptr, *PumpMaxSlider = nullptr,
            *SliderPausaAlMinimo = nullptr, *SliderPausaAlMassimo = nullptr;
    QLabel *RpmMinLabel = nullptr, *TinjMinLabel = nullptr, *TinjMaxLabel = nullptr, *PumpMinLabel = nullptr,
           *PumpMaxLabel = nullptr, *PausaMinLabel = nullptr, *PausaMaxLabel = nullptr,
           *RpmMultiplierLabel = nullptr;
    QLabel *Label4 = nullptr, *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Label10 = nullptr,
           *Label11 = nullptr;

signals:
    // A value was written otherwise than the technician chose (the pair rule held it, the editor's
    // step or rounding moved it): one line, for the line over the logo.
    void note(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onSessionState(Session::State state);
    void onParameterKnownChanged(ParameterIndex index);
    void showParameter(ParameterIndex index);
    void onWriteFinished(ParameterIndex index, bool confirmed);
    // The knob moved under the technician's gesture: the label and the working copy follow it.
    void previewSlider(ParameterIndex index);
    // A gesture (a button held on the slider, or its keys) starts: what it writes starts from what the
    // label shows.
    void startGesture(ParameterIndex index);
    bool inGesture(ParameterIndex index) const;
    // The gesture ends: it writes what its knob and label show.
    void endGesture(ParameterIndex index);
    // A sequence took the sliders (or the session ended): gestures end, nothing is written.
    void dropGestures();
    void commitSlider(ParameterIndex index, qint32 wanted, Recorder::Cause cause = Recorder::Cause::Slider);
    void refuseCommit(ParameterIndex index, ParameterIndex partner);
    bool sliderEvent(ParameterIndex index, QEvent *event);
    // The slider and its value label as assistive technology reads them: the parameter's name, its
    // value with its unit and its range, in the language in use.
    void describeParameter(ParameterIndex index);
    bool valueEditorEvent(QObject *watched, QEvent *event);
    void commitValueEditor();
    void closeValueEditor();
    // What the value rule makes of the editor's text, in the label's unit.
    ValueVerdict editorVerdict() const;
    void showEditorVerdict();
    // The rule's words as the window says them: the frames' names and the labels' values.
    ValueWords words() const;

    WindowContext &m_context;
    Session &m_session;
    Frames m_frames;
    std::array<QSlider *, kParameterCount> m_sliders{};
    std::array<QLabel *, kParameterCount> m_valueLabels{};
    // Sliders whose commit is still on its way to the controller; they take no input until it ends,
    // but stay enabled, so the focus stays on them.
    std::array<bool, kParameterCount> m_commitPending{};
    // Sliders moved by their keys since the last commit.
    std::array<bool, kParameterCount> m_keyEditing{};
    // Sliders with a mouse button held on them.
    std::array<bool, kParameterCount> m_buttonHeld{};
    // What each gesture's knob and label show: the value its end writes. A read answered meanwhile
    // waits in the book (showDeferred) until the gesture ends, so the knob never moves under the finger.
    std::array<qint32, kParameterCount> m_gestureValue{};
    std::array<bool, kParameterCount> m_showDeferred{};
    // A key release ends its gesture only when no press of the slider's keys follows at once: on X11
    // a held key repeats as release and press pairs that Qt does not always mark as auto-repeat.
    QTimer *m_keyEnd = nullptr;
    ParameterIndex m_keyEndIndex = ParameterIndex::MinPumpCycles;
    QLineEdit *m_valueEditor = nullptr;
    QLabel *m_editorNote = nullptr;
    ParameterIndex m_editorIndex = ParameterIndex::MinPumpCycles;
    QString m_unsent;
};

} // namespace oe
