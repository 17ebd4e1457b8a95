#pragma once
// File transfer over MSRP (RFC 4975, over TCP), described by SDP (RFC 5547): the sender offers a file, the
// receiver answers with its own MSRP path and listens on the engine's port, the sender connects and sends the
// file in SEND chunks with Byte-Range, each answered by 200; the last chunk ends with "$", an abandoned transfer
// with "#". One thread does the socket work; the lines reach the transfers under one lock.
#include "telephony/sip/SipLibrary.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zz {

class MsrpEngine final : public SipMsrp {
public:
    static constexpr size_t kChunk = 2048;

    MsrpEngine();
    ~MsrpEngine() override;

    int TqrMsrpInit(int enabled, const char* addr, int port, const char* localPath, int poolNum) override;
    int TqrMsrpClose() override;
    int TqrMsrpFileSend(const char* path, std::string& id, std::string& localUri, int32_t& size,
                        std::string& offer) override;
    int TqrMsrpFileRecv(int32_t maxSeconds, const char* offer, int32_t maxSize, std::string& answer,
                        std::string& localPath, std::string& name, int32_t& size, std::string& id) override;
    int TqrMsrpFileRecvStart(int handle, int flags) override;
    int TqrMsrpFileCheck(int handle, int32_t& done, int32_t& total) override;
    int TqrMsrpFileEnd(int handle) override;
    int TqrMsrpProcAnswer(const char* answer) override;

    // The port the engine listens on (0 when disabled).
    int Port() const { return port_; }
    // Blocks until the transfer is no longer under way or ms pass (real time): its TqrMsrpFileCheck result.
    int WaitDone(int handle, uint32_t ms);

    // Results of TqrMsrpFileCheck.
    enum : int { kDone = 1, kUnderWay = 0, kUnknown = -1, kConnectFailed = -2, kAborted = -3, kTimedOut = -4,
                 kFileError = -5 };

private:
    struct Transfer;
    struct Conn;

    void Thread();
    void Wake();
    void Accept();
    void Read(Conn& c);
    void Flush(Conn& c);
    bool Frame(Conn& c);
    void TakeSend(Conn& c, const std::string& tid, const std::map<std::string, std::string>& h,
                  const std::string& body, char flag);
    void TakeResponse(Conn& c, const std::string& tid, int code);
    void SendChunk(Transfer& t);
    void Finish(Transfer& t, int result);
    void CloseConn(int fd);
    Transfer* Find(int handle);
    std::string PathUri(const std::string& session) const;

    std::mutex m_;
    std::condition_variable finished_; // a transfer ended
    std::map<int, std::unique_ptr<Transfer>> transfers_;
    std::map<int, std::unique_ptr<Conn>> conns_; // by descriptor
    int nextHandle_ = 0;
    bool enabled_ = false;
    std::string addr_, localPath_;
    int port_ = 0;
    size_t pool_ = 64;
    int listenFd_ = -1;
    uint64_t accepted_ = 0;        // connections accepted so far
    uint64_t acceptRestUntil_ = 0; // ms of the steady clock: the listener rests after an accept failed
    int wakeFd_ = -1;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace zz
