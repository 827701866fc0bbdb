// Finding the controller: which COM ports lead to a device, USB adapters without a ports/ link, what
// a failed connect tells the user, and the search of the other ports.

#include "connecttexts.h"
#include "dialogs.h"
#include "mainwindow.h"
#include "portcombo.h"
#include "portsearch.h"
#include "porttexts.h"

#include <QProgressDialog>
#include <QPushButton>
#include <QScopedValueRollback>

namespace oe {

namespace {
QString comName(int comPort)
{
    return QStringLiteral("COM%1").arg(comPort);
}
} // namespace

QString fillPortText(const QString &text, const QString &a1, const QString &a2, const QString &a3)
{
    QString out;
    out.reserve(text.size() + a1.size() + a2.size() + a3.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar next = i + 1 < text.size() ? text[i + 1] : QChar();
        if (text[i] == u'%' && next >= u'1' && next <= u'3') {
            out += next == u'1' ? a1 : next == u'2' ? a2 : a3;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void MainWindow::bindPorts()
{
    m_systemPorts = systemSerialPorts;
    m_search = new PortSearch(m_session->engine(), this);
    connect(m_search, &PortSearch::trying, this, &MainWindow::onSearchTrying);
    connect(m_search, &PortSearch::finished, this, &MainWindow::onSearchFinished);
    connect(static_cast<PortCombo *>(COMM_Combo), &PortCombo::aboutToShowPopup, this, &MainWindow::refreshPortList);
}

void MainWindow::setSystemPortLister(std::function<QList<SystemPort>()> lister)
{
    m_systemPorts = std::move(lister);
    m_ports = listComPorts(m_programFolder, m_systemPorts());
    markPorts();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // A USB adapter plugged in before the program started is offered as soon as the window is up.
    if (!std::exchange(m_shownOnce, true))
        QMetaObject::invokeMethod(this, &MainWindow::refreshPortList, Qt::QueuedConnection);
}

void MainWindow::refreshPortList()
{
    const QList<SystemPort> system = m_systemPorts();
    m_ports = listComPorts(m_programFolder, system);
    markPorts();
    offerUsbAdapters(system);
}

// The items keep their texts COM1 to COM15; a port that leads to a device is bold and names it.
void MainWindow::markPorts()
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
            tip = fillPortText(caption(Caption::LinkDangling), port.device,
                               QStringLiteral("ports/") + comName(port.comPort));
        COMM_Combo->setItemData(item, font, Qt::FontRole);
        COMM_Combo->setItemData(item, tip.isEmpty() ? QVariant() : QVariant(tip), Qt::ToolTipRole);
    }
}

void MainWindow::offerUsbAdapters(const QList<SystemPort> &system)
{
    // Never while a connect, a session or a search has a port open, nor over another box.
    if (m_offeringAdapter || m_searchProgress || m_modalDepth > 0 || m_session->state() != Session::State::Idle)
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
        const int comPort = freeAdapterComPort(m_programFolder);
        if (comPort == 0)
            break;
        m_adaptersOffered.insert(adapter.device);
        const QString text = fillPortText(caption(Caption::AdapterOffer), adapter.device, adapter.description,
                                          comName(comPort));
        bool yes = false;
        {
            ModalScope scope(this);
            yes = dialogs().question(this, text, caption(Caption::MessageTitle));
        }
        if (!yes)
            continue;
        QString error;
        if (!makePortLink(m_programFolder, comPort, adapter.device, &error)) {
            showMessage(fillPortText(caption(Caption::AdapterLinkFailed), comName(comPort), error),
                        caption(Caption::MessageTitle));
            continue;
        }
        linked = true;
        selectPort(comPort);
    }
    if (linked) {
        m_ports = listComPorts(m_programFolder, system);
        markPorts();
    }
}

void MainWindow::selectPort(int comPort)
{
    COMM_Combo->setCurrentIndex(comPort - 1);
    m_comPort = comPort;
}

void MainWindow::showConnectFailure()
{
    const ConnectFailure failure = m_session->lastConnectFailure();
    m_ports = listComPorts(m_programFolder, m_systemPorts());
    markPorts();
    if (m_modalDepth > 0) {
        // Another box is open: this one waits for it, as every message does. No connect can start
        // meanwhile, so the failure it will tell is still this one.
        m_connectFailureWaiting = true;
        return;
    }
    const ConnectFailureText texts = connectFailureText(failure, [this](int entry) { return caption(entry); });
    const bool othersExist = std::any_of(m_ports.begin(), m_ports.end(), [&](const ComPortInfo &port) {
        return port.present && port.comPort != failure.comPort;
    });
    bool search = false;
    {
        ModalScope scope(this);
        search = dialogs().messageWithAction(this, texts.text, caption(Caption::MessageTitle), texts.details,
                                             othersExist ? caption(Caption::SearchPorts) : QString());
    }
    // Started from the event loop: the session is still reporting the failure.
    if (search)
        QMetaObject::invokeMethod(this, [this, port = failure.comPort] { startSearch(port); }, Qt::QueuedConnection);
}

void MainWindow::startSearch(int skippedPort)
{
    if (m_searchProgress || m_session->state() != Session::State::Idle)
        return;
    m_ports = listComPorts(m_programFolder, m_systemPorts());
    markPorts();
    QList<int> ports;
    for (const ComPortInfo &port : std::as_const(m_ports))
        if (port.present && port.comPort != skippedPort)
            ports.append(port.comPort);
    if (ports.isEmpty()) {
        showMessage(caption(Caption::SearchNothing), caption(Caption::MessageTitle));
        return;
    }
    btnConnect->setEnabled(false);
    COMM_Combo->setEnabled(false);
    m_searchCancelled = false;
    m_searchProgress = new QProgressDialog(this);
    m_searchProgress->setObjectName(QStringLiteral("searchProgress"));
    m_searchProgress->setWindowTitle(caption(Caption::MessageTitle));
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

void MainWindow::onSearchTrying(int comPort, int index, int)
{
    if (!m_searchProgress)
        return;
    m_searchProgress->setLabelText(fillPortText(caption(Caption::SearchProgress), comName(comPort)));
    m_searchProgress->setValue(index);
}

void MainWindow::onSearchFinished(int comPort)
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
            showMessage(caption(Caption::SearchNothing), caption(Caption::MessageTitle));
        return;
    }
    const QString device = comPort <= m_ports.size() ? m_ports[comPort - 1].device : comName(comPort);
    bool connectThere = false;
    {
        ModalScope scope(this);
        connectThere = dialogs().question(this, fillPortText(caption(Caption::SearchFound), comName(comPort), device),
                                          caption(Caption::MessageTitle));
    }
    if (!connectThere)
        return;
    if (m_session->state() != Session::State::Idle)
        return;
    selectPort(comPort);
    m_session->connectTo(comPort);
}

} // namespace oe
