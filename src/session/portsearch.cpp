#include "portsearch.h"

namespace oe {

PortSearch::PortSearch(RequestEngine *engine, QObject *parent)
    : QObject(parent), m_engine(engine)
{
    // A port that goes away while it is tried (an adapter pulled) just ends that try.
    connect(engine, &RequestEngine::portLost, this, [this] {
        if (m_running)
            tryNext();
    });
}

PortSearch::~PortSearch()
{
    ++m_generation;
    if (m_running && m_engine)
        m_engine->close();
}

bool PortSearch::start(const QList<int> &comPorts)
{
    if (m_running || !m_engine || m_engine->isOpen())
        return false;
    m_ports = comPorts;
    m_next = 0;
    m_running = true;
    ++m_generation;
    tryNext();
    return true;
}

void PortSearch::cancel()
{
    if (!m_running)
        return;
    if (m_engine)
        m_engine->close();
    finish(0);
}

void PortSearch::tryNext()
{
    const quint64 generation = m_generation;
    while (m_running && m_next < m_ports.size()) {
        const int comPort = m_ports[m_next];
        emit trying(comPort, m_next, int(m_ports.size()));
        ++m_next;
        // A handler (a progress dialog's Cancel) may have ended the search meanwhile.
        if (generation != m_generation || !m_engine)
            return;
        if (!m_engine->open(comPort, nullptr))
            continue; // in use by another program, or gone: not ours to take
        Request request = Request::version();
        request.tries = 1;
        m_engine->submit(request, [this, generation, comPort](const RequestResult &result) {
            if (generation != m_generation)
                return;
            m_engine->close();
            if (result.answered())
                finish(comPort);
            else
                tryNext();
        });
        return;
    }
    if (m_running && generation == m_generation)
        finish(0);
}

void PortSearch::finish(int comPort)
{
    ++m_generation;
    m_running = false;
    emit finished(comPort);
}

} // namespace oe
