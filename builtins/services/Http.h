#pragma once
// The HTTP/1.1 client behind the Http builtin and the small HTTP server behind the HttpServer builtins. Header
// names are matched without regard to case; the body lengths a peer announces are checked against kMaxHttpBody
// before anything is read or kept.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "builtins/services/NetSocket.h"

namespace zz {

// Largest body taken from a peer, announced or chunked or read to the connection's end.
constexpr size_t kMaxHttpBody = size_t(16) << 20;
// Largest header taken from a peer (interim replies included).
constexpr size_t kMaxHttpHead = 16384;

// Whether s holds word, letters compared without regard to case.
bool ContainsNoCase(std::string_view s, std::string_view word);
// The Content-Length field of a header block: false when absent; its leading digits, kMaxHttpBody + 1 for any
// value above kMaxHttpBody.
bool HttpContentLength(std::string_view header, size_t& length);
// The value of header field name (case-insensitive) in a header block, trimmed: false when the field is absent.
bool HttpHeaderValue(std::string_view header, std::string_view name, std::string& value);

// A chunked body as it arrives, its data gathered in one text (no copy per chunk, so memory stays near the
// body's size however small the chunks).
class TagChunkProc {
public:
    // Takes bytes: how many were not used (0: all), -1 for a malformed or oversized size line, -2 once the last
    // chunk's size line is seen. One call takes at most one size line and the data that follows it.
    int32_t Push(const char* data, int32_t count);
    // The data of the completed chunks, in order: their total (the body is left alone when it is below 1).
    int32_t CopyTo(std::string& body) const;
    // Hands the data over once the last chunk was seen (CopyTo without the copy): its size.
    int32_t TakeBody(std::string& body);

private:
    std::string data_;    // the data of every chunk begun
    size_t complete_ = 0; // bytes of data_ from completed chunks
    size_t need_ = 0;     // bytes the chunk being filled still needs, its closing CR LF included
};

// Reads a header from fd into data (emptied first): until data holds a blank line, limit bytes have come, the
// peer closes or an error. The byte count; 0 when ms of Clock time pass first (what came is dropped).
int32_t RecvHttp(int fd, std::string& data, size_t limit, int64_t ms, const SockWaiter* waiter);

// Appends what fd sends to data until it holds want bytes (at most kMaxHttpBody + 1, so a caller can tell an
// oversized body), the peer closes, an error, idleMs of Clock time pass without data, or the Clock reaches
// deadline (a tick count).
void RecvHttpBody(int fd, std::string& data, size_t want, int64_t idleMs, uint32_t deadline, const SockWaiter* waiter);

struct HttpReply {
    std::string body;
    int32_t length = 0;
    std::string header;
};

// The longest a whole request may take, from the connect to the body's last byte.
constexpr int64_t kHttpRequestMs = 60000;

// method to address ("http://host:port/path?query", "host:port", "host/path"): the body length received, or -1
// no connection, -2 the request could not be sent or the reply is malformed, too large or not whole (a bad chunk,
// a body cut short of its length or its last chunk, kHttpRequestMs passed), 0 or below when no reply header came.
int32_t HttpRequest(const char* address, const char* method, std::string_view body, const char* contentType,
                    HttpReply& reply, const SockWaiter* waiter);

// The listening handle of port, opened on first use (a port already open gives its handle again): -1 failure.
int32_t HttpServerOpen(int32_t port);

struct HttpRequestIn {
    std::string header;
    std::string body;
    int32_t length = 0;
    std::string address;
    bool accepted = false; // the connection handle is a new one
};
// When a request is waiting on handle (a listening handle: a new connection; else a connection): reads it and
// returns the connection's handle; -1 when nothing is waiting or the request fails, -2 on a socket error.
int32_t HttpServerRecv(int32_t handle, HttpRequestIn& in, const SockWaiter* waiter);
// Sends a reply on a connection: the last send's count, 0 after closing it for an empty reply, -1 on failure.
int32_t HttpServerSend(int32_t conn, std::string_view header, std::string_view body, const SockWaiter* waiter);
// The reply header HttpServerSend sends for header and a body of length bytes.
std::string HttpReplyHeader(std::string_view header, size_t length);
// Closes a server or connection handle: 0.
int32_t HttpServerClose(int32_t handle);

} // namespace zz
