#include "accessibility.h"

#include <QAbstractSlider>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

#include <optional>
#include <QShortcut>

namespace oe {

namespace {

const char kStatusLine[] = "oeStatusLine";

// A label whose text tells how the link is doing: read as a status bar, with the text it shows as
// its value.
class StatusLineAccessible : public QAccessibleWidget
{
public:
    explicit StatusLineAccessible(QWidget *label) : QAccessibleWidget(label, QAccessible::StatusBar) {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return static_cast<QLabel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

const char kValue[] = "oeSliderValue";

// A slider, read by the value the window shows: its knob's position (11 for 110 %, the
// lower end while the value is unknown) is not what the controller holds. Assistive technology may
// read the value but not set it: a value set from outside would skip the commit to the controller,
// and the slider's keys are there to move it.
class SliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit SliderAccessible(QWidget *slider) : QAccessibleWidget(slider, QAccessible::Slider) {}
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return shown() ? shown()->text : QString::number(slider()->value());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return shown() ? shown()->value : slider()->value(); }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return shown() ? shown()->maximum : slider()->maximum(); }
    QVariant minimumValue() const override { return shown() ? shown()->minimum : slider()->minimum(); }
    QVariant minimumStepSize() const override { return shown() ? shown()->step : slider()->singleStep(); }

private:
    QAbstractSlider *slider() const { return static_cast<QAbstractSlider *>(widget()); }
    std::optional<SliderValue> shown() const
    {
        const QVariant value = widget()->property(kValue);
        return value.isValid() ? std::optional(value.value<SliderValue>()) : std::nullopt;
    }
};

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    if (className == QLatin1String("QLabel") && object && object->property(kStatusLine).toBool())
        return new StatusLineAccessible(static_cast<QWidget *>(object));
    // Every slider: one may be asked about before it is told its value text (a screen reader that
    // runs while the window is built), and an interface once made is kept.
    if (className == QLatin1String("QSlider") && object && object->isWidgetType())
        return new SliderAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

void makeStatusLine(QLabel *label)
{
    label->setProperty(kStatusLine, true);
}

void setSliderValue(QWidget *slider, const SliderValue &value)
{
    const QVariant old = slider->property(kValue);
    if (old.isValid() && old.value<SliderValue>().text == value.text && old.value<SliderValue>().value == value.value)
        return;
    slider->setProperty(kValue, QVariant::fromValue(value));
    // The knob may not move (a value read as it stood, "---"): say the value changed all the same.
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(slider, value.value);
        QAccessible::updateAccessibility(&event);
    }
}

void describe(QWidget *widget, const QString &name, const QString &description)
{
    // Each set raises an event; unchanged texts raise none (the readings are described at every poll).
    if (widget->accessibleName() != name)
        widget->setAccessibleName(name);
    if (widget->accessibleDescription() != description)
        widget->setAccessibleDescription(description);
}

void closeOnEscapeAndCtrlW(QWidget *window)
{
    // Ctrl+W alone: the platform's Close is Ctrl+W too on some desktops, and two shortcuts on one
    // key fire neither.
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto *shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
    }
}

} // namespace oe
