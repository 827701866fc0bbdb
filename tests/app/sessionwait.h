#pragma once

#include "session.h"

#include <QElapsedTimer>
#include <QTest>

// Runs the event loop until no sequence runs, nothing is on the wire or queued and nothing the session
// posted for the window is still on its way, or the limit passes. True when the session went quiet.
inline bool waitSessionQuiet(const oe::Session &session, int limitMs)
{
    auto quiet = [&session] {
        return session.state() != oe::Session::State::Connecting && session.state() != oe::Session::State::Busy
               && !session.engine()->busy() && !session.telling();
    };
    QElapsedTimer clock;
    clock.start();
    while (!quiet() && clock.elapsed() < limitMs)
        QTest::qWait(5);
    return quiet();
}
