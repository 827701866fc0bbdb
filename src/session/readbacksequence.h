#pragma once

#include "sequencetoken.h"
#include "sessionresults.h"

#include <memory>

namespace oe {

class Session;

// The sequences that end by reading all eight back, each starting from unknown: a reset (the command,
// the notice after it, then the read-back) and a read again (the read-back, then readAgainFinished
// with what was known before). The token ends it with the session.
class ReadBackSequence : public std::enable_shared_from_this<ReadBackSequence>
{
public:
    enum class Kind { Reset, ReadAgain };
    enum class Step {
        Command,  // the reset command on its way
        Notice,   // the notice after the reset is being shown: the read-back waits for it
        ReadBack, // the eight reads
        Done,
    };

    static void start(Session &session, CancelToken token, Kind kind);
    ReadBackSequence(Session &session, CancelToken token, Kind kind);

private:
    void commandEnded(bool acknowledged);
    void readBack();
    void finish();
    template<typename F> auto guarded(F step);

    Session &m_session;
    CancelToken m_token;
    Kind m_kind;
    Step m_step = Step::Command;
    RereadResult m_result;
};

} // namespace oe
