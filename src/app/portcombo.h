#pragma once

#include <QComboBox>

namespace oe {

// The COM port list; tells when it is about to open, so the marks of the ports that lead somewhere
// are fresh while the user chooses (an adapter plugged in a moment ago shows at once).
class PortCombo : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override
    {
        emit aboutToShowPopup();
        QComboBox::showPopup();
    }

signals:
    void aboutToShowPopup();
};

} // namespace oe
