#pragma once

#include "parameterset.h"
#include "serialport.h"
#include "writeplan.h"

#include <QList>
#include <QString>

#include <array>

namespace oe {

// What a map load sent and what the read-back found. The writes follow the write plan: refusal says
// why nothing was written (a pair the values would cross, a partner the controller did not confirm);
// writes names per parameter what became of its write (written, refused, unanswered, not sent, or
// not planned: not marked or already held). A write that went unanswered and whose read-back found
// another value counts as refused. readBack and answered are the book's once the load ends: the
// values read back, and those untouched as they were confirmed.
struct MapLoadResult {
    ParameterSet sent; // the values wanted
    ParameterMask write{};
    WritePlan::Refusal refusal = WritePlan::Refusal::None;
    ParameterIndex refusedIndex{};   // for a refusal: the value judged
    ParameterIndex refusedPartner{}; // and its partner
    WritePlanResult writes;
    ParameterSet readBack;
    std::array<bool, kParameterCount> confirmed{}; // the write's echo came with the value sent
    std::array<bool, kParameterCount> answered{};
};

// How the session went about a value the technician chose (see Session::commitHeld).
struct HeldCommit {
    enum class Kind {
        Writing,        // value is on its way to the controller
        PartnerUnknown, // the partner could not be read: nothing was written
        Cancelled,      // a sequence took over or the session ended before anything was written
    };
    Kind kind = Kind::Cancelled;
    qint32 value = 0; // for Writing: the chosen value, held to its partner
    bool held = false; // the partner moved it
};

// What the controller holds, each value confirmed: told twice alike or echoed (see
// Session::verifiedValues). Only such values may leave the program, in a saved map or a restore point.
struct VerifiedValues {
    ParameterSet values; // an entry means something only where known
    std::array<bool, kParameterCount> known{};
    // All eight confirmed: a map may hold them.
    bool complete() const;
    QList<ParameterIndex> unknown() const;
};

// Why the last connect failed.
struct ConnectFailure {
    enum class Kind {
        None,          // no connect has failed since the last one started
        PortNotOpened, // the port could not be opened: openError and systemText say why
        NoAnswer,      // the port opened, but no identification reply came
    };
    Kind kind = Kind::None;
    int comPort = 0;
    QString device;     // what the port leads to
    PortOpenError openError = PortOpenError::None;
    QString systemText; // the system's own words, for PortNotOpened
    bool bytesReceived = false; // NoAnswer: bytes came, but none made a valid reply
};

// What reading the parameters again found: what the session knew before (the book's values, and
// which it had), the values as the controller reported them, and which reads got an answer.
struct RereadResult {
    ParameterSet before;
    std::array<bool, kParameterCount> knownBefore{};
    ParameterSet readBack;
    std::array<bool, kParameterCount> answered{};
};

} // namespace oe
