#pragma once

#include <memory>

namespace oe {

// Ends a sequence's steps: a step that comes back after waiting (an answer, a posted call) asks its
// token whether the sequence it belongs to still runs. The session's end and a sequence that takes
// over cancel it; nothing else needs to be counted or compared.
class CancelToken
{
public:
    CancelToken() = default;
    bool alive() const { return m_flag && *m_flag; }

private:
    friend class CancelSource;
    explicit CancelToken(std::shared_ptr<const bool> flag) : m_flag(std::move(flag)) {}
    std::shared_ptr<const bool> m_flag;
};

// Hands out tokens and cancels every one handed out so far at once; tokens handed out afterwards live.
class CancelSource
{
public:
    CancelToken token() const { return CancelToken(m_flag); }
    void cancel()
    {
        *m_flag = false;
        m_flag = std::make_shared<bool>(true);
    }

private:
    std::shared_ptr<bool> m_flag = std::make_shared<bool>(true);
};

} // namespace oe
