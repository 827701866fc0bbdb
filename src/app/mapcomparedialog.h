#pragma once

#include "apptexts.h"
#include "parameterset.h"

#include <QDialog>
#include <QPointer>

class QTableWidget;

namespace oe {

class Session;

// A map's values beside the controller's: per parameter the file's value, the controller's ("---"
// while it is not known) and whether they differ. Sends no write; values the session does not know
// are read once when the compare opens, and the table follows what the session learns.
class MapCompareDialog : public QDialog
{
    Q_OBJECT
public:
    MapCompareDialog(Session *session, AppTexts texts, QWidget *parent = nullptr);

    void setValues(const ParameterSet &values, const QString &name);
    // Reads what the session does not know yet; false when not connected.
    bool readUnknown();
    void applyCaptions();
    QTableWidget *table() const { return m_table; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    QPointer<Session> m_session;
    AppTexts m_texts;
    ParameterSet m_values;
    QString m_name;
    QTableWidget *m_table = nullptr;
};

} // namespace oe
