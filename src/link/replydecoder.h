#pragma once

#include <QByteArrayView>
#include <QList>

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

// Bytes a reply of this code has, 0 for a code the controller never sends.
qsizetype replyLength(quint8 code);

// One frame found among received bytes.
struct FrameAt {
    qsizetype start = 0;
    qsizetype length = 0;  // the code's whole length, also while unfinished
    DecodedReply reply;    // decoded when complete; for an unfinished one only code (0 if not here yet)
};

// What begins at offset i of bytes: no reply frame, one that needs more bytes to tell or to decode,
// or a whole one. frame is filled for the last two (for an unfinished one only start, length and code).
enum class FrameLook { None, Unfinished, Complete };
FrameLook frameAt(QByteArrayView bytes, qsizetype i, FrameAt *frame);

// Every place in bytes where a reply frame starts: "C" "U" and a reply code, or the beginning of such
// a header at the very end. Frames may overlap: the line carries no length or checksum, so a header
// inside another frame's data is a candidate as well. Both lists are in order of start.
struct FrameScan {
    QList<FrameAt> complete;
    QList<FrameAt> unfinished;  // needs more bytes to tell or to decode
};
FrameScan scanFrames(QByteArrayView bytes);

} // namespace oe
