// Finding the controller: which COM ports lead to a device, USB adapters without a ports/ link, what
// a failed connect tells the user, and the search of the other ports.

#include "connectionpanel.h"
#include "reconnectflow.h"

#include "accessibility.h"
#include "boxqueue.h"
#include "connecttexts.h"
#include "dialogs.h"
#include "intervaltimer.h"
#include "numbertexts.h"
#include "portcombo.h"
#include "portsearch.h"
#include "porttexts.h"
#include "recorder.h"
#include "windowcontext.h"
#include "windowlayout.h"

#include <QEvent>
#include <QFile>
#include <QProgressDialog>
#include <QScopedValueRollback>

#include <algorithm>
#include <utility>

namespace oe {

using namespace layout;

namespace {
QString comName(int comPort)
{
    return QStringLiteral("COM%1").arg(comPort);
}
} // namespace

ConnectionPanel::ConnectionPanel(WindowContext &context, QGroupBox *frame)
    : QObject(context.window), m_context(context), m_session(*context.session), m_frame(frame)
{
    COMM_Combo = named(new PortCombo(frame), "COMM_Combo");
    COMM_Combo->setGeometry(twips(480, 360, 1935, 315));
    COMM_Combo->setFont(baseFont());
    COMM_Combo->installEventFilter(this);
    btnConnect = makeButton(frame, "btnConnect", QStringLiteral("CONNETTI"), twips(480, 720, 1935, 375));
    ResetCmd = makeButton(frame, "ResetCmd", QStringLiteral("RESET"), twips(480, 1140, 1935, 375));
    Label9 = makeLabel(frame, "Label9", QStringLiteral("Label9"), twips(450, 1590, 1935, 435), kVersionBack);
    Label9->setAlignment(Qt::AlignCenter);

    connect(&m_session, &Session::stateChanged, this, &ConnectionPanel::onSessionState);
    connect(&m_session, &Session::identified, this, &ConnectionPanel::onIdentified);
    connect(btnConnect, &QPushButton::clicked, this, &ConnectionPanel::onConnectClicked);
    connect(ResetCmd, &QPushButton::clicked, this, &ConnectionPanel::onResetClicked);

    m_systemPorts = systemSerialPorts;
    m_search = new PortSearch(m_session.engine(), this);
    connect(m_search, &PortSearch::trying, this, &ConnectionPanel::onSearchTrying);
    connect(m_search, &PortSearch::finished, this, &ConnectionPanel::onSearchFinished);
    connect(static_cast<PortCombo *>(COMM_Combo), &PortCombo::aboutToShowPopup, this,
            &ConnectionPanel::refreshPortList);
}

void ConnectionPanel::fillPortList()
{
    for (int port = 1; port <= 15; ++port)
        COMM_Combo->addItem(comName(port));
    COMM_Combo->setCurrentIndex(0);
    m_comPort = COMM_Combo->currentIndex() + 1;
}

void ConnectionPanel::resetView()
{
    Label9->clear();
    ResetCmd->setEnabled(false);
    describeControls();
}

void ConnectionPanel::describeControls()
{
    const bool sessionOpen = m_session.state() != Session::State::Idle;
    describe(COMM_Combo, m_context.caption(Caption::PortListName), m_context.caption(Caption::PortListHint));
    describe(btnConnect, btnConnect->text(),
             m_context.caption(sessionOpen ? Caption::DisconnectHint : Caption::ConnectHint));
    describe(ResetCmd, ResetCmd->text(), m_context.caption(Caption::ResetHint));
    describe(Label9, m_context.caption(Caption::VersionName),
             Label9->text().isEmpty() ? m_context.caption(Caption::ValueNotKnown) : Label9->text());
}

void ConnectionPanel::applyCaptions()
{
    if (const QString text = m_context.captions.text(Caption::ConnectionFrame); !text.isEmpty())
        m_frame->setTitle(text);
    if (const QString text = m_context.captions.text(Caption::ResetButton); !text.isEmpty())
        ResetCmd->setText(text);
    // Entry 6 from the moment a connect starts until the session ends.
    const bool sessionOpen = m_session.state() != Session::State::Idle;
    btnConnect->setText(m_context.caption(sessionOpen ? Caption::Disconnect : Caption::Connect));
    describeControls();
}

void ConnectionPanel::cancelSearch()
{
    if (m_searchProgress)
        m_search->cancel();
}

bool ConnectionPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == COMM_Combo && event->type() == QEvent::FocusOut)
        m_comPort = COMM_Combo->currentIndex() + 1; // no selection (-1) gives 0
    return QObject::eventFilter(watched, event);
}

void ConnectionPanel::onConnectClicked()
{
    if (m_searchProgress) // a search holds the engine
        return;
    if (m_reconnect && m_reconnect->waiting()) {
        m_reconnect->stop();
        return;
    }
    switch (m_session.state()) {
    case Session::State::Idle:
        m_session.connectTo(m_comPort);
        break;
    case Session::State::Connecting:
        // The button says DISCONNECT from the start of a connect, and a slow controller can hold a
        // connect for seconds: it means it.
    case Session::State::Connected:
    case Session::State::Busy:
        m_session.disconnectNow();
        break;
    }
}

// A reset takes every parameter back to the controller's factory values: never on one slip of the
// mouse. Cancel sends nothing; the status poll goes on under the question, as it does in the idle
// connected view.
void ConnectionPanel::onResetClicked()
{
    if (m_session.state() != Session::State::Connected || m_preparingReset)
        return;
    ResetCmd->setEnabled(false);
    // The controller's values are saved first (unknown ones read), so the question can say where.
    m_preparingReset = true;
    takeRestorePoint(&m_session, m_context.mapsFolder(), RestoreCause::Reset, m_context.controller, this,
                     [this](const RestorePointOutcome &point) {
                         m_preparingReset = false;
                         askReset(point);
                     });
}

void ConnectionPanel::askReset(const RestorePointOutcome &point)
{
    bool ok = false;
    // A box another part opened while the restore point was taken (Save's file dialog): no question
    // over it; the reset is given up and its button is back.
    if (m_session.state() == Session::State::Connected && !m_context.boxes->isOpen()) {
        BoxQueue::Scope scope(*m_context.boxes);
        ok = m_context.boxes->dialogs().confirm(
            m_context.window,
            m_context.caption(Caption::ResetQuestion) + QStringLiteral("\n\n")
                + restorePointText(point, m_context.captions, m_context.parameterName),
            m_context.caption(Caption::MessageTitle));
    }
    if (ok)
        m_context.recorder->setCause(Recorder::Cause::Reset);
    // The session may have ended while the box was open; reset() refuses then.
    if (!ok || !m_session.reset()) {
        // Nothing was overwritten: the restore point is not needed.
        if (point.written())
            QFile::remove(point.path);
        ResetCmd->setEnabled(m_session.state() == Session::State::Connected);
        return;
    }
    m_resetPoint = point;
    // Older restore points go only now that the reset went out: a cancelled one deletes nothing.
    pruneRestorePoints(m_context.mapsFolder(), point.path);
}

void ConnectionPanel::showAfterReset()
{
    const RestorePointOutcome point = std::exchange(m_resetPoint, {});
    const QString text = m_context.caption(Caption::AfterReset) + QStringLiteral("\n\n")
                         + restorePointText(point, m_context.captions, m_context.parameterName);
    // Without a title of its own, as the notice after a reset always was.
    if (!point.written()) {
        m_context.boxes->showMessage(text, QString());
        return;
    }
    const auto notice = [this, text, path = point.path] {
        bool undo = false;
        {
            BoxQueue::Scope scope(*m_context.boxes);
            undo = m_context.boxes->dialogs().messageWithAction(m_context.window, text, QString(), QString(),
                                                                m_context.caption(Caption::UndoButton));
        }
        if (undo)
            emit undoRequested(path);
    };
    if (m_context.boxes->isOpen())
        m_context.boxes->deferBox(notice);
    else
        notice();
}

void ConnectionPanel::onSessionState(Session::State state)
{
    switch (state) {
    case Session::State::Connecting:
        btnConnect->setText(m_context.caption(Caption::Disconnect));
        describeControls();
        // The list shows the port in use for as long as the session holds it.
        COMM_Combo->setEnabled(false);
        break;
    case Session::State::Connected:
        ResetCmd->setEnabled(true);
        storePort();
        break;
    case Session::State::Busy:
        ResetCmd->setEnabled(false);
        break;
    case Session::State::Idle:
        m_preparingReset = false;
        m_resetPoint = {};
        storePort();
        COMM_Combo->setEnabled(true);
        btnConnect->setText(m_context.caption(Caption::Connect));
        resetView();
        break;
    }
}

void ConnectionPanel::onIdentified(int comPort, const std::array<quint8, 3> &version)
{
    Label9->setText(QStringLiteral("Ver. %1.%2.%3")
                        .arg(plainNumberText(version[0]), plainNumberText(version[1]),
                             plainNumberText(version[2])));
    describeControls();
    m_context.configLines[0] = portLine(comPort);
    m_context.controller = {comName(comPort), QStringLiteral("%1.%2.%3").arg(version[0]).arg(version[1]).arg(version[2])};
    // Stored when the connect's reads are done, or when the session ends first: the file is flushed
    // to disk, and the reads must not wait for the disk.
    m_portToStore = true;
    COMM_Combo->setEnabled(false);
}

void ConnectionPanel::storePort(bool quietly)
{
    // A program folder that cannot be written must not cost the connection: the port is then not
    // remembered for the next start, and the user hears where and why, once a run.
    if (!std::exchange(m_portToStore, false))
        return;
    if (quietly || m_configProblemTold)
        m_context.writeConfig();
    else
        m_configProblemTold = !m_context.saveConfig();
}

void ConnectionPanel::setSystemPortLister(std::function<QList<SystemPort>()> lister)
{
    m_systemPorts = std::move(lister);
    m_ports = listComPorts(m_context.programFolder, m_systemPorts());
    markPorts();
}

void ConnectionPanel::refreshPortList()
{
    const QList<SystemPort> system = m_systemPorts();
    m_ports = listComPorts(m_context.programFolder, system);
    markPorts();
    offerUsbAdapters(system);
}

// The items keep their texts COM1 to COM15; a port that leads to a device is bold and names it.
void ConnectionPanel::markPorts()
{
    for (const ComPortInfo &port : std::as_const(m_ports)) {
        const int item = port.comPort - 1;
        if (item < 0 || item >= COMM_Combo->count())
            continue;
        QVariant font;
        if (port.present) {
            QFont bold = COMM_Combo->font();
            bold.setBold(true);
            font = bold;
        }
        QString tip;
        if (port.present)
            tip = port.description.isEmpty() ? port.device
                                             : QStringLiteral("%1 — %2").arg(port.device, port.description);
        else if (port.dangling)
            tip = fillPortText(m_context.caption(Caption::LinkDangling), port.device,
                               QStringLiteral("ports/") + comName(port.comPort));
        COMM_Combo->setItemData(item, font, Qt::FontRole);
        COMM_Combo->setItemData(item, tip.isEmpty() ? QVariant() : QVariant(tip), Qt::ToolTipRole);
    }
}

void ConnectionPanel::offerUsbAdapters(const QList<SystemPort> &system)
{
    // Never while a connect, a session or a search has a port open, nor over another box.
    if (m_offeringAdapter || m_searchProgress || m_context.boxes->isOpen()
        || m_session.state() != Session::State::Idle)
        return;
    QSet<QString> plugged;
    for (const SystemPort &port : system)
        if (port.usbAdapter)
            plugged.insert(port.device);
    m_adaptersOffered.intersect(plugged); // an adapter unplugged and back is offered anew

    QScopedValueRollback guard(m_offeringAdapter, true);
    bool linked = false;
    for (const SystemPort &adapter : unlinkedUsbAdapters(m_ports, system)) {
        if (m_adaptersOffered.contains(adapter.device))
            continue;
        const int comPort = freeAdapterComPort(m_context.programFolder);
        if (comPort == 0)
            break;
        m_adaptersOffered.insert(adapter.device);
        const QString text = fillPortText(m_context.caption(Caption::AdapterOffer), adapter.device,
                                          adapter.description, comName(comPort));
        bool yes = false;
        {
            BoxQueue::Scope scope(*m_context.boxes);
            yes = m_context.boxes->dialogs().question(m_context.window, text,
                                                      m_context.caption(Caption::MessageTitle));
        }
        if (!yes)
            continue;
        QString error;
        if (!makePortLink(m_context.programFolder, comPort, adapter.device, &error)) {
            m_context.tell(fillPortText(m_context.caption(Caption::AdapterLinkFailed), comName(comPort), error));
            continue;
        }
        linked = true;
        selectPort(comPort);
    }
    if (linked) {
        m_ports = listComPorts(m_context.programFolder, system);
        markPorts();
    }
}

void ConnectionPanel::selectPort(int comPort)
{
    COMM_Combo->setCurrentIndex(comPort - 1); // port 0: no selection
    m_comPort = comPort;
}

void ConnectionPanel::showConnectFailure()
{
    const ConnectFailure failure = m_session.lastConnectFailure();
    m_ports = listComPorts(m_context.programFolder, m_systemPorts());
    markPorts();
    if (m_context.boxes->isOpen()) {
        // Another box is open: this one waits for it, as every message does. No connect can start
        // meanwhile, so the failure it will tell is still this one.
        m_context.boxes->deferBox([this] { showConnectFailure(); });
        return;
    }
    const ConnectFailureText texts =
        connectFailureText(failure, [this](int entry) { return m_context.caption(entry); });
    const bool othersExist = std::any_of(m_ports.begin(), m_ports.end(), [&](const ComPortInfo &port) {
        return port.present && port.comPort != failure.comPort;
    });
    bool search = false;
    {
        BoxQueue::Scope scope(*m_context.boxes);
        search = m_context.boxes->dialogs().messageWithAction(
            m_context.window, texts.text, m_context.caption(Caption::MessageTitle), texts.details,
            othersExist ? m_context.caption(Caption::SearchPorts) : QString());
    }
    // Started from the event loop: the session is still reporting the failure.
    if (search)
        QMetaObject::invokeMethod(this, [this, port = failure.comPort] { startSearch(port); }, Qt::QueuedConnection);
}

void ConnectionPanel::startSearch(int skippedPort)
{
    if (m_searchProgress || m_session.state() != Session::State::Idle)
        return;
    m_ports = listComPorts(m_context.programFolder, m_systemPorts());
    markPorts();
    QList<int> ports;
    for (const ComPortInfo &port : std::as_const(m_ports))
        if (port.present && port.comPort != skippedPort)
            ports.append(port.comPort);
    if (ports.isEmpty()) {
        m_context.tell(m_context.caption(Caption::SearchNothing));
        return;
    }
    btnConnect->setEnabled(false);
    COMM_Combo->setEnabled(false);
    m_searchCancelled = false;
    m_searchProgress = new QProgressDialog(m_context.window);
    m_searchProgress->setObjectName(QStringLiteral("searchProgress"));
    m_searchProgress->setWindowTitle(m_context.caption(Caption::MessageTitle));
    m_searchProgress->setWindowModality(Qt::WindowModal);
    m_searchProgress->setRange(0, int(ports.size()));
    m_searchProgress->setMinimumDuration(0);
    m_searchProgress->setAutoClose(false);
    m_searchProgress->setAutoReset(false);
    connect(m_searchProgress, &QProgressDialog::canceled, this, [this] {
        m_searchCancelled = true;
        m_search->cancel();
    });
    m_searchProgress->show();
    m_search->start(ports);
}

void ConnectionPanel::onSearchTrying(int comPort, int index, int)
{
    if (!m_searchProgress)
        return;
    m_searchProgress->setLabelText(fillPortText(m_context.caption(Caption::SearchProgress), comName(comPort)));
    m_searchProgress->setValue(index);
}

void ConnectionPanel::onSearchFinished(int comPort)
{
    if (m_searchProgress) {
        m_searchProgress->disconnect(this);
        m_searchProgress->hide();
        m_searchProgress->deleteLater();
        m_searchProgress = nullptr;
    }
    btnConnect->setEnabled(true);
    COMM_Combo->setEnabled(true);
    if (comPort == 0) {
        if (!m_searchCancelled)
            m_context.tell(m_context.caption(Caption::SearchNothing));
        return;
    }
    const QString device = comPort <= m_ports.size() ? m_ports[comPort - 1].device : comName(comPort);
    bool connectThere = false;
    {
        BoxQueue::Scope scope(*m_context.boxes);
        connectThere = m_context.boxes->dialogs().question(
            m_context.window, fillPortText(m_context.caption(Caption::SearchFound), comName(comPort), device),
            m_context.caption(Caption::MessageTitle));
    }
    if (!connectThere)
        return;
    if (m_session.state() != Session::State::Idle)
        return;
    selectPort(comPort);
    m_session.connectTo(comPort);
}

} // namespace oe
