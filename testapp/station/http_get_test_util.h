// For the tests of the metrics endpoint: a plain HTTP/1.0 GET to a local
// port, enough to scrape /metrics or ask Prometheus's HTTP API.
#ifndef QUARNEX_STATION_HTTP_GET_TEST_UTIL_H_
#define QUARNEX_STATION_HTTP_GET_TEST_UTIL_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace quarnex {

struct HttpReply {
  int status = 0;
  std::string body;
};

// GET `target` ("/metrics?x=1", already escaped) from 127.0.0.1:`port`.
// Empty when nothing answers or the reply is cut; each read waits at most
// `timeout_s`.
inline std::optional<HttpReply> HttpGet(int port, const std::string& target,
                                        double timeout_s = 10.0) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeout_s);
  tv.tv_usec = static_cast<suseconds_t>((timeout_s - static_cast<double>(tv.tv_sec)) * 1e6);
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    const std::string request =
        "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      char buffer[4096];
      for (ssize_t n; (n = recv(fd, buffer, sizeof(buffer), 0)) > 0;) reply.append(buffer, n);
    }
  }
  close(fd);
  const size_t head_end = reply.find("\r\n\r\n");
  if (!reply.starts_with("HTTP/") || head_end == std::string::npos) return std::nullopt;
  HttpReply result;
  result.status = std::stoi(reply.substr(reply.find(' ') + 1, 3));
  result.body = reply.substr(head_end + 4);
  return result;
}

// `text` with every byte but letters, digits and -_.~ as %XX.
inline std::string UrlEscape(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : text) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return out;
}

}  // namespace quarnex

#endif  // QUARNEX_STATION_HTTP_GET_TEST_UTIL_H_
