#include "request.h"

#include "plausibility.h"
#include "requestframes.h"

namespace oe {

Request Request::read(quint8 index)
{
    return {Kind::ReadParameter, index, 0, kReadTimeout, kTries};
}

Request Request::write(quint8 index, qint32 value)
{
    return {Kind::WriteParameter, index, value, kWriteTimeout, kTries};
}

Request Request::status()
{
    return {Kind::Status, 0, 0, kStatusTimeout, kTries};
}

Request Request::version()
{
    return {Kind::Version, 0, 0, kVersionTimeout, kTries};
}

Request Request::reset()
{
    return {Kind::Reset, 0, 0, kResetTimeout, kTries};
}

QByteArray Request::frame() const
{
    switch (kind) {
    case Kind::ReadParameter: return RequestFrame(CommandCode::ReadParameter, index);
    case Kind::Status: return RequestFrame(CommandCode::Status);
    case Kind::Version: return RequestFrame(CommandCode::Version);
    case Kind::Reset: return RequestFrame(CommandCode::Reset);
    case Kind::WriteParameter: break;
    }
    return {};
}

quint8 Request::replyCode() const
{
    switch (kind) {
    case Kind::ReadParameter: return 1;
    case Kind::WriteParameter: return 2;
    case Kind::Status: return 3;
    case Kind::Version: return 4;
    case Kind::Reset: return 10;
    }
    return 0;
}

bool Request::answeredBy(const DecodedReply &reply) const
{
    switch (kind) {
    case Kind::ReadParameter:
        return reply.kind == ReplyKind::Parameter && reply.index == index;
    case Kind::WriteParameter:
        return reply.kind == ReplyKind::Echo && reply.index == index && reply.value == value;
    case Kind::Status:
        return reply.kind == ReplyKind::Status;
    case Kind::Version:
        return reply.kind == ReplyKind::Version;
    case Kind::Reset:
        return reply.kind == ReplyKind::Reset;
    }
    return false;
}

bool Request::refusedBy(const DecodedReply &reply) const
{
    return kind == Kind::WriteParameter && reply.kind == ReplyKind::Echo && reply.index == index
           && reply.value != value;
}

bool Request::believes(const DecodedReply &reply) const
{
    return isPlausible(reply);
}

} // namespace oe
