#include "replyscanner.h"

#include "plausibility.h"

#include <algorithm>

namespace oe {

void ReplyScanner::clear()
{
    dropBytes();
    m_heard = false;
}

void ReplyScanner::dropBytes()
{
    m_input.clear();
    m_chunks.clear();
    m_unfinished.clear();
    m_complete.clear();
    m_scannedUpTo = 0;
    m_reportedUpTo = 0;
}

void ReplyScanner::append(QByteArrayView bytes, qint64 atMs)
{
    if (bytes.isEmpty())
        return;
    m_heard = true;
    m_input += bytes;
    m_chunks.append({m_input.size(), atMs});
}

qint64 ReplyScanner::arrivalOf(qsizetype offset) const
{
    const auto chunk = std::upper_bound(m_chunks.cbegin(), m_chunks.cend(), offset,
                                        [](qsizetype at, const Chunk &c) { return at < c.end; });
    if (chunk != m_chunks.cend())
        return chunk->atMs;
    return m_chunks.isEmpty() ? 0 : m_chunks.last().atMs;
}

void ReplyScanner::trimInput(qsizetype from)
{
    from = qBound<qsizetype>(0, from, m_input.size());
    if (from == 0)
        return;
    if (from == m_input.size()) {
        dropBytes();
        return;
    }
    m_input.remove(0, from);
    const auto firstKept = std::upper_bound(m_chunks.begin(), m_chunks.end(), from,
                                            [](qsizetype at, const Chunk &c) { return at < c.end; });
    m_chunks.erase(m_chunks.begin(), firstKept);
    for (Chunk &chunk : m_chunks)
        chunk.end -= from;
    const auto shift = [from](QList<FrameAt> &frames) {
        frames.removeIf([from](const FrameAt &frame) { return frame.start < from; });
        for (FrameAt &frame : frames)
            frame.start -= from;
    };
    shift(m_unfinished);
    shift(m_complete);
    m_scannedUpTo = qMax<qsizetype>(0, m_scannedUpTo - from);
    m_reportedUpTo = qMax<qsizetype>(0, m_reportedUpTo - from);
}

void ReplyScanner::scanNewBytes(const Request *open, QList<DecodedReply> *setAside)
{
    const QByteArrayView bytes(m_input);
    QList<FrameAt> found;
    QList<FrameAt> stillComing;
    const auto lookAt = [&](qsizetype at) {
        FrameAt frame;
        switch (frameAt(bytes, at, &frame)) {
        case FrameLook::Unfinished: stillComing.append(frame); break;
        case FrameLook::Complete: found.append(frame); break;
        case FrameLook::None: break;
        }
    };
    // Frames still coming in first: the new bytes may finish or spoil them.
    for (const FrameAt &frame : std::as_const(m_unfinished))
        lookAt(frame.start);
    for (qsizetype i = m_scannedUpTo; i < bytes.size(); ++i)
        lookAt(i);
    m_scannedUpTo = bytes.size();
    m_unfinished = stillComing;
    std::sort(found.begin(), found.end(), [](const FrameAt &a, const FrameAt &b) { return a.start < b.start; });
    for (const FrameAt &frame : std::as_const(found))
        frameCompleted(frame, open, setAside);
}

void ReplyScanner::frameCompleted(const FrameAt &frame, const Request *open, QList<DecodedReply> *setAside)
{
    const auto at = std::upper_bound(m_complete.begin(), m_complete.end(), frame.start,
                                     [](qsizetype start, const FrameAt &f) { return start < f.start; });
    m_complete.insert(at, frame);
    // Someone else's reply is set aside once; a frame inside one already reported is part of it.
    if (open && (open->answeredBy(frame.reply) || open->refusedBy(frame.reply)))
        return;
    if (frame.start < m_reportedUpTo || !isPlausible(frame.reply))
        return;
    m_reportedUpTo = frame.start + frame.length;
    setAside->append(frame.reply);
}

bool ReplyScanner::headerInside(const FrameAt &frame) const
{
    // Its last bytes are "C" "U" with more bytes after them: noise glued to the first bytes of a reply,
    // its value made of the header that follows.
    const qsizetype end = frame.start + frame.length;
    if (m_input.size() <= end)
        return false;
    for (qsizetype p = qMax(frame.start + 1, end - 2); p < end; ++p) {
        if (m_input[p] == 'C' && m_input[p + 1] == 'U')
            return true;
    }
    return false;
}

ReplyScanner::Choice ReplyScanner::choose(const Request &request, qint64 timeoutAtMs) const
{
    // The last complete frame that answers the request wins; one that would answer but cannot be
    // right is remembered, so the try need not wait out its time-out for nothing. A frame that began
    // after the time-out is too late for this try.
    Choice choice;
    QList<const FrameAt *> answers;
    for (const FrameAt &frame : m_complete) {
        if (arrivalOf(frame.start) >= timeoutAtMs)
            break;
        if (headerInside(frame))
            continue;
        if (request.answeredBy(frame.reply)) {
            if (!request.believes(frame.reply)) {
                choice.rejected = &frame;
                continue;
            }
            // A frame whose data holds this one's header was a false start.
            while (!answers.isEmpty() && frame.start < answers.last()->start + answers.last()->length)
                answers.removeLast();
            answers.append(&frame);
        } else if (request.refusedBy(frame.reply)) {
            choice.rejected = &frame;
        }
    }
    if (answers.isEmpty())
        return choice;
    choice.answer = answers.last();
    // An identification carries nothing that could be checked, and noise shaped like one can follow
    // the real reply: two that disagree leave the try without an answer.
    for (const FrameAt *frame : std::as_const(answers)) {
        if (frame->reply.kind == ReplyKind::Version && frame->reply.version != choice.answer->reply.version) {
            choice.rejected = choice.answer;
            choice.answer = nullptr;
            break;
        }
    }
    return choice;
}

ScanVerdict ReplyScanner::look(const Request *open, qint64 timeoutAtMs, qint64 nowMs)
{
    ScanVerdict verdict;
    scanNewBytes(open, &verdict.setAside);
    if (!open) {
        // Between requests only a frame still coming in is worth keeping.
        trimInput(m_unfinished.isEmpty() ? m_input.size() : m_unfinished.first().start);
        return verdict;
    }
    for (;;) {
        const Choice choice = choose(*open, timeoutAtMs);
        const FrameAt *answer = choice.answer;
        const FrameAt *rejected = choice.rejected;
        // The frame the try would end on: its answer, or else one that cannot be right.
        const FrameAt *best = answer ? answer : rejected;
        const qsizetype bestEnd = best ? best->start + best->length : 0;

        // A frame still coming in that may answer and began after that one could take its place,
        // unless it lies inside it: a reply ending in "C" looks like the start of another. One that
        // began in time holds the try past its time-out for the pause any reply gets.
        bool pending = false;
        qint64 graceUntil = 0;
        for (const FrameAt &frame : std::as_const(m_unfinished)) {
            if (frame.reply.code != 0 && frame.reply.code != open->replyCode())
                continue;
            if (best && (frame.start <= best->start || m_input.size() <= bestEnd))
                continue;
            const qint64 began = arrivalOf(frame.start);
            if (began >= timeoutAtMs)
                continue;
            pending = true;
            graceUntil = qMax(graceUntil, began + kSettleMs);
        }
        if (m_input.size() > kInputLimit && !answer && !pending) {
            // A flood: keep the tail that may still begin a frame, and look again at what is left.
            trimInput(m_input.size() - kInputKeep);
            continue;
        }

        const bool final = nowMs >= timeoutAtMs && nowMs >= graceUntil;
        const qint64 answerDue = answer ? arrivalOf(answer->start) + kSettleMs : 0;
        const qint64 rejectedDue = rejected ? arrivalOf(rejected->start) + kSettleMs : 0;
        if (answer && nowMs >= answerDue && (!pending || final)) {
            verdict.step = ScanVerdict::Step::Answered;
            verdict.reply = answer->reply;
            return verdict;
        }
        if (!answer && rejected && nowMs >= rejectedDue && (!pending || final)) {
            verdict.step = ScanVerdict::Step::BadFrame;
            return verdict;
        }
        if (!answer && !rejected && final) {
            verdict.step = ScanVerdict::Step::NoAnswer;
            return verdict;
        }
        // The next look: the answer's due time, the time-out, or the grace of a frame begun in time.
        if (answer && nowMs < answerDue)
            verdict.nextLookAt = answerDue;
        if (!answer && rejected && nowMs < rejectedDue)
            verdict.nextLookAt = qMin(verdict.nextLookAt, rejectedDue);
        if (nowMs < timeoutAtMs)
            verdict.nextLookAt = qMin(verdict.nextLookAt, timeoutAtMs);
        else if (pending)
            verdict.nextLookAt = qMin(verdict.nextLookAt, graceUntil);
        return verdict;
    }
}

} // namespace oe
