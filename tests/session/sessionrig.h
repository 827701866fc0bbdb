#pragma once

#include "fakecontroller.h"
#include "session.h"
#include "simulatedport.h"
#include "virtualclock.h"

#include <functional>
#include <memory>

// The session by itself on the virtual clock: a simulated port with a prompt controller behind it.
// Connect, poll, commits, reset, map load and silences take no real time, and every run is the same
// run, so the session's behaviour is tested here and the window's tests keep what only a window shows.
struct SessionRig {
    struct Frame {
        QByteArray bytes;
        qint64 atMs; // virtual
    };

    oe::VirtualClock clock;
    oe::SimulatedPort *port = new oe::SimulatedPort(&clock);
    FakeController controller;
    std::function<QByteArray(const QByteArray &)> responder; // replaces the controller's answers when set
    qint64 replyDelayMs = 5;
    QList<Frame> written;
    std::unique_ptr<oe::Session> session;

    SessionRig()
    {
        port->setWriteHandler([this](const QByteArray &frame) {
            written.append({frame, clock.nowMs()});
            const QByteArray reply = responder ? responder(frame) : controller.respond(frame);
            if (!reply.isEmpty())
                port->deliver(reply, clock.nowMs() + replyDelayMs);
        });
        session = std::make_unique<oe::Session>(port, nullptr, &clock);
    }

    oe::Session &s() { return *session; }

    // Runs virtual time until done() holds or limitMs of it passed; whether done() holds.
    bool runUntil(const std::function<bool()> &done, qint64 limitMs = 60000)
    {
        bool stop = done();
        clock.runUntil(clock.nowMs() + limitMs, stop, [&] { stop = stop || done(); });
        return done();
    }
    void run(qint64 ms)
    {
        const bool never = false;
        clock.runUntil(clock.nowMs() + ms, never, [] {});
    }
    // No sequence runs and nothing is on the wire or queued.
    bool quiet() const
    {
        return session->state() != oe::Session::State::Connecting && session->state() != oe::Session::State::Busy
               && !session->engine()->busy();
    }
    bool runUntilQuiet(qint64 limitMs = 60000) { return runUntil([this] { return quiet(); }, limitMs); }
    bool connect(int comPort = 7)
    {
        session->connectTo(comPort);
        return runUntilQuiet() && session->state() == oe::Session::State::Connected;
    }
    QList<QByteArray> writtenBytes() const
    {
        QList<QByteArray> bytes;
        for (const Frame &f : written)
            bytes << f.bytes;
        return bytes;
    }
};
