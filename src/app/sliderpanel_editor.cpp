// The exact-value editor: a typed value, judged by the value rule as it is typed. Every digit is
// taken; what will be written, and why it differs from the text, shows under the editor; Enter writes
// that, or leaves the editor open when the rule refuses the value.
#include "sliderpanel.h"

#include "focusguard.h"
#include "lenientnumber.h"
#include "numbertexts.h"
#include "windowcontext.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSlider>

#include <cmath>

namespace oe {

double displayPerField(ParameterIndex index)
{
    switch (index) {
    case ParameterIndex::MinPumpCycles:
    case ParameterIndex::MaxPumpCycles: return 0.02;
    case ParameterIndex::MinLoadPumpPause:
    case ParameterIndex::MaxLoadPumpPause: return 0.025;
    default: return 1.0;
    }
}

namespace {

// The label's text without its unit, for the editor to start from ("0.3", "100", "9000").
QString bareText(ParameterIndex index, qint32 value)
{
    QString text = displayText(index, value);
    if (text.endsWith(QLatin1String(" s")))
        text.chop(2);
    else if (text.endsWith(u'%'))
        text.chop(1);
    return text;
}

} // namespace

ValueWords SliderPanel::words() const
{
    return {[this](ParameterIndex index) { return parameterCaption(index); },
            [](ParameterIndex index, qint32 value) { return displayText(index, value); }};
}

bool SliderPanel::openValueEditor(ParameterIndex index)
{
    QSlider *slider = sliderFor(index);
    if (!slider->isEnabled() || m_commitPending[size_t(index)] || m_session.state() != Session::State::Connected)
        return false;
    closeValueEditor();
    QLabel *label = labelFor(index);
    auto *editor = new QLineEdit(label->parentWidget());
    editor->setObjectName(QStringLiteral("ValueEditor"));
    editor->setAccessibleName(parameterCaption(index));
    editor->setText(bareText(index, m_session.Parameters[index]));
    editor->setGeometry(label->geometry().adjusted(-4, -2, 8, 2));
    editor->setFont(label->font());
    editor->installEventFilter(this);
    // Over the whole window, so a note longer than the frame is not cut at its edge.
    auto *note = new QLabel(m_context.window);
    note->setObjectName(QStringLiteral("ValueEditorNote"));
    note->setAutoFillBackground(true);
    note->setFrameShape(QFrame::Box);
    note->hide();
    m_valueEditor = editor;
    m_editorNote = note;
    m_editorIndex = index;
    connect(editor, &QLineEdit::textEdited, this, &SliderPanel::showEditorVerdict);
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
    editor->selectAll();
    return true;
}

ValueVerdict SliderPanel::editorVerdict() const
{
    const ParameterIndex index = m_editorIndex;
    const QString typed = m_valueEditor->text().trimmed();
    QString text = typed;
    // The label's unit may come with the value, and the decimal separator is the one the labels show.
    if (text.endsWith(u's'))
        text.chop(1);
    else if (text.endsWith(u'%'))
        text.chop(1);
    // The interface language's separator is the decimal one. A time has no thousands, so there the
    // other one can only be meant as decimal too ("2.5" typed on an Italian interface); in a whole
    // number it stays what it is ("1.500": thousands or a slip) and the rule says so.
    const bool seconds = displayPerField(index) != 1.0;
    for (QChar &c : text)
        if (c == m_context.decimalSeparator)
            c = u'.';
        else if (c == u'.' || c == u',')
            c = seconds ? u'.' : u',';
    text = text.trimmed();

    ValueContext context;
    context.sliderStep = true;
    // A partner never read is read at the commit, which holds the value then (SliderPanel::commitSlider).
    const auto partner = pairPartner(index);
    context.pairCheck = partner && m_session.controllerValue(*partner).has_value();
    if (context.pairCheck)
        context.partnerValue = m_session.controllerValue(*partner);

    const std::optional<double> number = readCleanNumber(text);
    ValueVerdict verdict;
    if (!number) {
        verdict = judgeValue(index, QStringView(text), context);
    } else {
        const double perField = displayPerField(index);
        double field = *number / perField;
        // 2.075 s is 83 pause steps, which binary division misses by a hair.
        if (std::abs(field - std::round(field)) < 1e-6)
            field = std::round(field);
        verdict = judgeValue(index, field, context);
        // In seconds a fraction of a step is off the slider's step, not a decimal to round.
        if (perField != 1.0 && verdict.rounded) {
            verdict.rounded = false;
            verdict.stepped = true;
        }
    }
    verdict.text = typed;
    return verdict;
}

void SliderPanel::showEditorVerdict()
{
    if (!m_valueEditor)
        return;
    const ValueVerdict verdict = editorVerdict();
    const QString text = verdict.text.isEmpty() ? QString() : valueVerdictText(verdict, m_context.captions, words());
    if (text.isEmpty()) {
        m_editorNote->hide();
        return;
    }
    m_editorNote->setText(text);
    QPalette palette = m_editorNote->palette();
    palette.setColor(QPalette::Window, verdict.accepted() ? QColor(255, 255, 210) : QColor(255, 215, 215));
    m_editorNote->setPalette(palette);
    m_editorNote->adjustSize();
    QPoint at = m_valueEditor->mapTo(m_context.window, QPoint(0, m_valueEditor->height() + 2));
    at.setX(std::max(0, std::min(at.x(), m_context.window->width() - m_editorNote->width())));
    m_editorNote->move(at);
    m_editorNote->show();
    m_editorNote->raise();
}

// Enter writes what the rule makes of the text, as a release of the slider would: the pair and its
// partner's read are the commit's; a refused value keeps the editor open with its reason.
void SliderPanel::commitValueEditor()
{
    const ValueVerdict verdict = editorVerdict();
    if (!verdict.accepted()) {
        showEditorVerdict();
        return;
    }
    const ParameterIndex index = m_editorIndex;
    closeValueEditor();
    QSlider *slider = sliderFor(index);
    if (!slider->isEnabled() || m_session.state() != Session::State::Connected)
        return;
    if (verdict.changed())
        emit note(valueVerdictText(verdict, m_context.captions, words()));
    slider->setValue(positionFromField(index, verdict.value));
    labelFor(index)->setText(displayText(index, verdict.value));
    describeParameter(index);
    commitSlider(index, verdict.value, Recorder::Cause::Typed);
}

void SliderPanel::closeValueEditor()
{
    if (QLineEdit *editor = std::exchange(m_valueEditor, nullptr)) {
        editor->removeEventFilter(this);
        // Enter or Escape in the editor gives the focus back to the slider it was opened for.
        if (editor->hasFocus() && sliderFor(m_editorIndex)->isEnabled())
            sliderFor(m_editorIndex)->setFocus(Qt::OtherFocusReason);
        editor->hide();
        editor->deleteLater();
    }
    if (QLabel *note = std::exchange(m_editorNote, nullptr)) {
        note->hide();
        note->deleteLater();
    }
}

bool SliderPanel::valueEditorEvent(QObject *watched, QEvent *event)
{
    if (m_valueEditor && watched == m_valueEditor) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                commitValueEditor();
                return true;
            }
            if (key == Qt::Key_Escape) {
                closeValueEditor();
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            closeValueEditor();
        }
        return false;
    }
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        if (watched == labelFor(index) && event->type() == QEvent::MouseButtonDblClick) {
            // The value chosen by its label: the editor gives the focus back to its slider.
            if (!openValueEditor(index))
                return false;
            m_context.focus->choose(sliderFor(index));
            return true;
        }
        if (watched == sliderFor(index) && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_context.focus->keysAllowed(sliderFor(index)))
                return openValueEditor(index);
        }
    }
    return false;
}

} // namespace oe
