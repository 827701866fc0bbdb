#pragma once

#include "portcatalog.h"
#include "restorepointstep.h"
#include "session.h"

#include <QObject>
#include <QSet>

#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QProgressDialog;
class QPushButton;

namespace oe {

class PortSearch;
class ReconnectFlow;
struct WindowContext;

// The connection frame: the COM port list with its marks, the USB adapters offered as a port, CONNECT
// and RESET, the firmware version, what a failed connect tells the user and the search of the other
// ports.
class ConnectionPanel : public QObject
{
    Q_OBJECT
public:
    ConnectionPanel(WindowContext &context, QGroupBox *frame);

    int comPort() const { return m_comPort; }
    // Where the list of the system's serial ports comes from (tests give a list of their own).
    void setSystemPortLister(std::function<QList<SystemPort>()> lister);
    // COM1 to COM15, the first chosen until config.ini says otherwise.
    void fillPortList();
    void selectPort(int comPort);
    void refreshPortList();
    void showConnectFailure();
    // The notice after the reset command: names the restore point and offers to undo the reset.
    void showAfterReset();
    void resetView();
    void applyCaptions();
    // The port the controller identified itself on goes to config.ini once, when the reads are done.
    // quietly: no box when it cannot (the window is closing).
    void storePort(bool quietly = false);
    void cancelSearch();
    // The wait for a lost port to come back, which CONNECT (then reading DISCONNECT) stops.
    void setReconnectFlow(ReconnectFlow *flow) { m_reconnect = flow; }

    QComboBox *COMM_Combo = nullptr;
    QPushButton *btnConnect = nullptr, *ResetCmd = nullptr;
    QLabel *Label9 = nullptr;

signals:
    // The technician chose Undo after a reset: this restore point is to go back into the controller.
    void undoRequested(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onConnectClicked();
    void onResetClicked();
    void askReset(const RestorePointOutcome &point);
    void onSessionState(Session::State state);
    void onIdentified(int comPort, const std::array<quint8, 3> &version);
    // Names and descriptions for assistive technology, in the language in use.
    void describeControls();
    void markPorts();
    void offerUsbAdapters(const QList<SystemPort> &system);
    void startSearch(int skippedPort);
    void onSearchTrying(int comPort, int index, int count);
    void onSearchFinished(int comPort);

    WindowContext &m_context;
    Session &m_session;
    QGroupBox *m_frame;
    int m_comPort = 0;
    // The controller identified itself on the port in the config lines; config.ini does not say so yet.
    bool m_portToStore = false;
    bool m_configProblemTold = false;
    std::function<QList<SystemPort>()> m_systemPorts;
    QList<ComPortInfo> m_ports;
    // USB adapters offered as a COM port this session; one goes when its adapter is unplugged.
    QSet<QString> m_adaptersOffered;
    bool m_offeringAdapter = false;
    PortSearch *m_search = nullptr;
    QProgressDialog *m_searchProgress = nullptr;
    bool m_searchCancelled = false;
    // The restore point of the reset on its way, for its notice.
    RestorePointOutcome m_resetPoint;
    bool m_preparingReset = false;
    ReconnectFlow *m_reconnect = nullptr;
};

} // namespace oe
