#pragma once

#include "apptexts.h"
#include "mapfile.h"
#include "parameterset.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QTableWidget;

namespace oe {

class Session;

// A map's values beside the controller's: per parameter the file's value, the controller's ("---"
// until it is confirmed) and whether they differ. Sends no write; when the compare opens, values the
// session does not know are read and the first answers verified (Session::verifiedValues), and the
// table follows what the session confirms.
class MapCompareDialog : public QDialog
{
    Q_OBJECT
public:
    MapCompareDialog(Session *session, AppTexts texts, QWidget *parent = nullptr);

    // origin: where the map came from, shown below the table with a word when its firmware is not
    // the controller's.
    void setValues(const ParameterSet &values, const QString &name, const MapOrigin &origin = {});
    // Has the session read what it does not know and verify its first answers; false when not
    // connected. One such request at a time.
    bool settle();
    void applyCaptions();
    QTableWidget *table() const { return m_table; }
    QLabel *originLabel() const { return m_originLabel; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    QPointer<Session> m_session;
    AppTexts m_texts;
    ParameterSet m_values;
    QString m_name;
    MapOrigin m_origin;
    QTableWidget *m_table = nullptr;
    QLabel *m_originLabel = nullptr;
    bool m_settling = false;
};

} // namespace oe
