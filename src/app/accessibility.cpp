#include "accessibility.h"

#include <QAbstractSlider>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

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

const char kValueText[] = "oeValueText";

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
        if (t == QAccessible::Value) {
            const QVariant shown = widget()->property(kValueText);
            return shown.isValid() ? shown.toString() : QString::number(slider()->value());
        }
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return slider()->value(); }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return slider()->maximum(); }
    QVariant minimumValue() const override { return slider()->minimum(); }
    QVariant minimumStepSize() const override { return slider()->singleStep(); }

private:
    QAbstractSlider *slider() const { return static_cast<QAbstractSlider *>(widget()); }
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

void setSliderValueText(QWidget *slider, const QString &text)
{
    if (slider->property(kValueText).toString() == text && slider->property(kValueText).isValid())
        return;
    slider->setProperty(kValueText, text);
    // The knob may not move (a value read as it stood, "---"): say the value changed all the same.
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(slider, static_cast<QAbstractSlider *>(slider)->value());
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

} // namespace oe
