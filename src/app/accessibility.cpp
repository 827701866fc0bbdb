#include "accessibility.h"

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

QAccessibleInterface *statusLineFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("QLabel") && object && object->property(kStatusLine).toBool())
        return new StatusLineAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(statusLineFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void makeStatusLine(QLabel *label)
{
    label->setProperty(kStatusLine, true);
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
