#pragma once

#include "apptexts.h"
#include "restorepoints.h"

#include <QDialog>
#include <QPointer>

#include <functional>

class QPushButton;
class QTreeWidget;

namespace oe {

class Session;

// The restore points and backups in the maps folder, newest first: when, why, and which values
// differ from what the controller holds now. Restore hands the chosen file to the ordinary map load.
class RestoreDialog : public QDialog
{
    Q_OBJECT
public:
    RestoreDialog(Session *session, QString mapsFolder, AppTexts texts, QWidget *parent = nullptr);
    // The controller connected now (port and firmware): the points of another are marked.
    void setController(std::function<RestorePointOrigin()> controller) { m_controller = std::move(controller); }

    // Lists the folder again and compares each file with the controller.
    void refresh();
    void applyCaptions();
    QTreeWidget *list() const { return m_list; }
    QPushButton *restoreButton() const { return m_restore; }

signals:
    void restoreRequested(const QString &path);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void updateButton();

    QPointer<Session> m_session;
    bool m_settling = false; // a Session::verifiedValues request is on its way
    QString m_mapsFolder;
    std::function<RestorePointOrigin()> m_controller;
    AppTexts m_texts;
    QTreeWidget *m_list = nullptr;
    QPushButton *m_restore = nullptr;
};

} // namespace oe
