#pragma once
// The simulated card's control port: a text protocol on 127.0.0.1 through which a test or a person plays the far
// end of the card's channels (ring, keys, hang-up, call progress, ISUP bytes, FSK, audio, fax) and reads what the
// channels did (state, played voice, messages sent, the journal). One command a line, one answer line each:
// "OK ..." or "ERR ...". README.md beside this file lists the commands.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace zz {

class CardSim;

class CardControl {
public:
    explicit CardControl(CardSim& sim);
    ~CardControl(); // stops the thread and closes every connection
    CardControl(const CardControl&) = delete;
    CardControl& operator=(const CardControl&) = delete;

    // Listens on 127.0.0.1:port (0: a free port); the port taken, or -1.
    int32_t Start(int32_t port);
    int32_t Port() const { return port_; }

    // Runs one command line; the answer line without its newline.
    std::string Execute(const std::string& line);

private:
    struct Client {
        int fd;
        std::string in, out; // lines not yet answered, answers not yet taken
        uint64_t seen;       // when it was last served
    };
    void Serve();
    // Takes what the client sent or sends it what waits; false when the client is to be dropped.
    bool ServeClient(Client& c, short revents);

    CardSim& sim_;
    int listen_ = -1;
    int stopFd_ = -1; // an eventfd that ends the thread's poll
    int32_t port_ = -1;
    std::thread thread_;
};

} // namespace zz
