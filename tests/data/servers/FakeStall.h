#pragma once
// The server that stops answering, for the stand-in client libraries: a call that meets it blocks in Block until
// the test lets every such call return with Answer (and later ones pass until Rearm).
#include <condition_variable>
#include <mutex>

namespace zz::test {

class FakeStall {
public:
    void Block() {
        std::unique_lock<std::mutex> lk(m_);
        ++stalled_;
        change_.notify_all();
        change_.wait(lk, [this] { return answer_; });
        --stalled_;
        change_.notify_all();
    }
    // Blocks until n calls are blocked: the hand-shake that the caller waits on the server now.
    void WaitStalled(int n) {
        std::unique_lock<std::mutex> lk(m_);
        change_.wait(lk, [&] { return stalled_ >= n; });
    }
    void Answer() {
        std::lock_guard<std::mutex> lk(m_);
        answer_ = true;
        change_.notify_all();
    }
    // Once every answered call has left, so that WaitStalled counts only the calls that come after.
    void Rearm() {
        std::unique_lock<std::mutex> lk(m_);
        change_.wait(lk, [this] { return stalled_ == 0; });
        answer_ = false;
    }

private:
    std::mutex m_;
    std::condition_variable change_;
    int stalled_ = 0;
    bool answer_ = false;
};

} // namespace zz::test
