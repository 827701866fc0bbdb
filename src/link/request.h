#pragma once

#include "replydecoder.h"

#include <QByteArray>

#include <chrono>

namespace oe {

// One exchange with the controller: what to send, what answers it, how long to wait and how often
// to try.
struct Request {
    enum class Kind { ReadParameter, WriteParameter, Status, Version, Reset };

    static constexpr int kTries = 3;
    static constexpr std::chrono::milliseconds kReadTimeout{300};
    static constexpr std::chrono::milliseconds kWriteTimeout{300};
    static constexpr std::chrono::milliseconds kVersionTimeout{300};
    static constexpr std::chrono::milliseconds kStatusTimeout{500};
    static constexpr std::chrono::milliseconds kResetTimeout{1000};

    Kind kind = Kind::Status;
    quint8 index = 0;  // read and write
    qint32 value = 0;  // write
    std::chrono::milliseconds timeout{300};
    int tries = 3;

    static Request read(quint8 index);
    static Request write(quint8 index, qint32 value);
    static Request status();
    static Request version();
    static Request reset();

    // The frame that asks it; empty for a write, whose frame is built (and its value checked) apart.
    QByteArray frame() const;
    // The reply code that answers it.
    quint8 replyCode() const;
    // Whether a well-formed reply is this request's own answer. A write's echo must carry the index
    // and the value sent.
    bool answeredBy(const DecodedReply &reply) const;
    // A write's echo for the same index that carries another value: the controller refused or
    // clamped the value.
    bool refusedBy(const DecodedReply &reply) const;
    // Whether its values can be right (see plausibility.h).
    bool believes(const DecodedReply &reply) const;
};

} // namespace oe
