#pragma once
// Just enough HTTP/1.1 for InfluxDB's v1 API on a lab's network: one request per
// connection, plain http://, bounded waits.
#include <optional>
#include <string>

namespace keldrin::collect {

struct HttpTarget {
    std::string host;
    int port = 80;
    std::string base;  // a path before /write, without the trailing slash
};
// "http://host[:port][/path]"; nothing for anything else.
std::optional<HttpTarget> parseHttpUrl(const std::string& url);

struct HttpReply {
    int status = 0;  // 0: no reply (refused, timed out, cut)
    std::string body;
    std::string error;
};
// method "GET" or "POST"; pathAndQuery starts with '/'.
HttpReply httpRequest(const HttpTarget& to, const std::string& method, const std::string& pathAndQuery,
                      const std::string& body, int timeoutSeconds = 10);

// Percent-encodes a query value.
std::string urlEncode(const std::string& s);

}  // namespace keldrin::collect
