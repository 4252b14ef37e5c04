#include "http.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace keldrin::collect {

std::optional<HttpTarget> parseHttpUrl(const std::string& url) {
    const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
    std::string rest = url.substr(scheme.size());
    HttpTarget t;
    const std::size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        t.base = rest.substr(slash);
        while (!t.base.empty() && t.base.back() == '/') t.base.pop_back();
        rest.resize(slash);
    }
    const std::size_t colon = rest.rfind(':');
    if (colon != std::string::npos) {
        try {
            std::size_t used = 0;
            t.port = std::stoi(rest.substr(colon + 1), &used);
            if (used != rest.size() - colon - 1 || t.port < 1 || t.port > 65535) return std::nullopt;
        } catch (...) {
            return std::nullopt;
        }
        rest.resize(colon);
    }
    if (rest.empty()) return std::nullopt;
    t.host = rest;
    return t;
}

std::string urlEncode(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

HttpReply httpRequest(const HttpTarget& to, const std::string& method, const std::string& pathAndQuery,
                      const std::string& body, int timeoutSeconds) {
    HttpReply reply;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(to.host.c_str(), std::to_string(to.port).c_str(), &hints, &found); rc != 0) {
        reply.error = gai_strerror(rc);
        return reply;
    }
    int s = -1;
    for (addrinfo* a = found; a && s < 0; a = a->ai_next) {
        s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s < 0) continue;
        timeval tv{timeoutSeconds, 0};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (::connect(s, a->ai_addr, a->ai_addrlen) != 0) {
            reply.error = std::strerror(errno);
            ::close(s);
            s = -1;
        }
    }
    freeaddrinfo(found);
    if (s < 0) return reply;
    std::string request = method + " " + to.base + pathAndQuery + " HTTP/1.1\r\nHost: " + to.host +
                          "\r\nConnection: close\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                          std::to_string(body.size()) + "\r\n\r\n" + body;
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = ::send(s, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            reply.error = std::strerror(errno);
            ::close(s);
            return reply;
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string response;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(s, buf, sizeof buf, 0);
        if (n <= 0) break;
        response.append(buf, static_cast<std::size_t>(n));
        if (response.size() > (1u << 20)) break;  // a reply this long is not ours to read
    }
    ::close(s);
    // "HTTP/1.1 204 No Content"
    if (response.compare(0, 5, "HTTP/") != 0 || response.find(' ') == std::string::npos) {
        reply.error = "no HTTP reply";
        return reply;
    }
    reply.status = std::atoi(response.c_str() + response.find(' ') + 1);
    if (const std::size_t end = response.find("\r\n\r\n"); end != std::string::npos) reply.body = response.substr(end + 4);
    return reply;
}

}  // namespace keldrin::collect
