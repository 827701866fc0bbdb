#pragma once

#include "sequencetoken.h"

#include <array>
#include <memory>
#include <optional>

#include <QtGlobal>

namespace oe {

class Session;

// The controller known afresh after a silence the session counted: it identifies itself again (two
// agreeing answers), then all eight are read and each confirmed by a second agreeing answer. Until
// then the session is busy and nothing it knew before is shown, saved or compared. Another firmware,
// or a confirmed value other than before the silence, is told as Notice::AnotherController.
class ReacquireSequence : public std::enable_shared_from_this<ReacquireSequence>
{
public:
    enum class Step {
        Identify, // the version, asked until two answers agree (at most three)
        Confirm,  // the eight read and verified
        Done,
    };

    static void start(Session &session, CancelToken token);
    ReacquireSequence(Session &session, CancelToken token);

private:
    void identified(std::optional<std::array<quint8, 3>> version);
    void confirmed();
    template<typename F> auto guarded(F step);

    Session &m_session;
    CancelToken m_token;
    Step m_step = Step::Identify;
    bool m_otherFirmware = false;
};

} // namespace oe
