#pragma once

#include "sequencetoken.h"
#include "sessionresults.h"
#include "writeplan.h"

#include <memory>
#include <optional>

namespace oe {

class Session;

// A map load, as one sequence: what the controller holds is confirmed first (nothing is read when all
// of it is), then the values go out in the write plan's order, one write after the echo of the one
// before, until the plan ends or a write does not come back as sent; then what was written or tried
// is read back and mapLoaded reports it. The token ends it with the session.
class MapLoadSequence : public std::enable_shared_from_this<MapLoadSequence>
{
public:
    enum class Step {
        Settle,   // confirming the values the plan is judged against
        Write,    // the plan's writes, one at a time
        ReadBack, // reading what was written or tried
        Done,
    };

    static void start(Session &session, CancelToken token, const ParameterSet &wanted, const ParameterMask &write);

    MapLoadSequence(Session &session, CancelToken token, const ParameterSet &wanted, const ParameterMask &write);

private:
    void plan();
    void writeNext();
    void readBack();
    void finish();
    // Runs the step unless the sequence was cancelled meanwhile.
    template<typename F> auto guarded(F step);

    Session &m_session;
    CancelToken m_token;
    Step m_step = Step::Settle;
    std::optional<WritePlanRun> m_run;
    MapLoadResult m_result;
};

} // namespace oe
