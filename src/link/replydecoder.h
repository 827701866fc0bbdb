#pragma once

#include <QByteArrayView>

#include <array>

namespace oe {

enum class ReplyKind {
    Ignored,   // fewer than 4 bytes, or a reply code the controller never sends
    BadHeader, // does not start with "C", "U"
    Truncated, // known code, but shorter than that code's payload needs
    Parameter, // code 1: answer to a read
    Echo,      // code 2: echo of a write
    Status,    // code 3: live readings
    Version,   // code 4: firmware version
    Reset,     // code 10: reset acknowledged
};

// What one received frame says. Only the members of its kind are meaningful; the rest stay 0.
struct DecodedReply {
    ReplyKind kind = ReplyKind::Ignored;
    quint8 code = 0;
    // Parameter, Echo
    qint32 index = 0;
    qint32 value = 0;
    // Status
    qint32 rpm = 0;
    qint32 tinj = 0;
    qint32 pump = 0;
    qint32 pause = 0;
    // Version
    std::array<quint8, 3> version{};
};

// Reads the frame at the start of bytes; bytes past the code's payload are ignored and no byte past
// the end of the data is ever read.
DecodedReply decodeReply(QByteArrayView bytes);

} // namespace oe
