#include "adapter/sim_config.h"

#include <charconv>
#include <cstdlib>
#include <optional>
#include <utility>

#include "testapp/platform/message_quote.h"

namespace quarnex {

namespace {

constexpr int kDefaultFirstPort = 1;
constexpr int kDefaultLastPort = 16;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Parses a whole unsigned number, decimal or with a 0x prefix.
std::optional<uint64_t> ParseUnsigned(std::string_view s) {
  s = Trim(s);
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

std::optional<int> ParsePort(std::string_view s) {
  auto v = ParseUnsigned(s);
  if (!v || *v > static_cast<uint64_t>(kMaxSimPort)) return std::nullopt;
  return static_cast<int>(*v);
}

std::optional<double> ParseRate(std::string_view s) {
  s = Trim(s);
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  if (!(value >= 0.0 && value <= 1.0)) return std::nullopt;
  return value;
}

// A time in seconds above 0, e.g. "2" or "0.25".
std::optional<std::chrono::nanoseconds> ParseSeconds(std::string_view s) {
  s = Trim(s);
  double value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  if (!(value > 0.0 && value <= kMaxUnplugSeconds)) return std::nullopt;
  return std::chrono::ceil<std::chrono::nanoseconds>(std::chrono::duration<double>(value));
}

// "1-8,10,12-14" -> the ports, in ascending order.
std::optional<std::set<int>> ParsePortList(std::string_view s) {
  std::set<int> ports;
  while (!s.empty()) {
    const size_t comma = s.find(',');
    std::string_view item = s.substr(0, comma);
    s = comma == std::string_view::npos ? std::string_view() : s.substr(comma + 1);
    const size_t dash = item.find('-');
    auto first = ParsePort(item.substr(0, dash));
    auto last = dash == std::string_view::npos ? first : ParsePort(item.substr(dash + 1));
    if (!first || !last || *last < *first) return std::nullopt;
    for (int p = *first; p <= *last; ++p) ports.insert(p);
  }
  if (ports.empty()) return std::nullopt;
  return ports;
}

// Parses a far end other than a null-modem cable:
// loopback | sink | source[:pattern][:SIZE] | source:file=PATH[:SIZE].
std::optional<FarEnd> ParseFarEnd(std::string_view s) {
  s = Trim(s);
  FarEnd far;
  if (s == "loopback") return far;
  if (s == "sink") {
    far.kind = FarEndKind::kSink;
    return far;
  }
  if (s.substr(0, 6) != "source") return std::nullopt;
  far.kind = FarEndKind::kSource;
  far.frame_size = kDefaultSourceFrameSize;
  s.remove_prefix(6);
  if (s.empty()) return far;
  if (s.front() != ':') return std::nullopt;
  s.remove_prefix(1);
  // A trailing ":SIZE" (digits only) is the frame size, so a path may itself
  // contain colons.
  const size_t colon = s.rfind(':');
  if (colon != std::string_view::npos && ParseUnsigned(s.substr(colon + 1))) {
    const uint64_t size = *ParseUnsigned(s.substr(colon + 1));
    if (size == 0 || size > kMaxFrameSize) return std::nullopt;
    far.frame_size = static_cast<uint32_t>(size);
    s = s.substr(0, colon);
  } else if (ParseUnsigned(s)) {  // "source:SIZE"
    const uint64_t size = *ParseUnsigned(s);
    if (size == 0 || size > kMaxFrameSize) return std::nullopt;
    far.frame_size = static_cast<uint32_t>(size);
    return far;
  }
  if (s == "pattern") return far;
  if (s.substr(0, 5) == "file=" && s.size() > 5) {
    far.file = std::string(s.substr(5));
    return far;
  }
  return std::nullopt;
}

// The value of a fault item: "RATE" or "RATE:NUMBER".
bool ParseFault(std::string_view value, double* rate, uint32_t* number) {
  const size_t colon = value.find(':');
  auto r = ParseRate(value.substr(0, colon));
  if (!r) return false;
  if (colon != std::string_view::npos) {
    if (number == nullptr) return false;
    auto n = ParseUnsigned(value.substr(colon + 1));
    if (!n || *n > UINT32_MAX) return false;
    *number = static_cast<uint32_t>(*n);
  }
  *rate = *r;
  return true;
}

// "unplug=SECONDS[:LIST]"; no list means every port.
struct UnplugItem {
  std::chrono::nanoseconds after;
  std::optional<std::set<int>> ports;
  std::string item;
};

struct PortAssignment {
  std::set<int> ports;
  FarEnd far;
  bool pair_in_order = false;  // "A-B=nullmodem": pair the listed ports two by two
  std::string item;
};

class Parser {
 public:
  explicit Parser(std::vector<std::string>* problems) : problems_(problems) {}

  void Item(std::string_view item) {
    item = Trim(item);
    if (item.empty()) return;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) return Problem(item, "expected key=value");
    const std::string_view key = Trim(item.substr(0, eq));
    const std::string_view value = Trim(item.substr(eq + 1));
    if (key == "ports") {
      auto list = ParsePortList(value);
      if (!list) return Problem(item, "bad port list");
      ports_ = *list;
    } else if (key == "far") {
      auto far = ParseFarEnd(value);
      if (!far) return Problem(item, "bad far end");
      default_far_ = *far;
    } else if (key == "seed") {
      auto seed = ParseUnsigned(value);
      if (!seed) return Problem(item, "bad seed");
      config_.seed = *seed;
    } else if (key == "unplug") {
      UnplugValue(item, value);
    } else if (key.substr(0, 6) == "fault.") {
      FaultItem(item, key.substr(6), value);
    } else if (auto list = ParsePortList(key)) {
      PortItem(item, *list, value);
    } else {
      Problem(item, "unknown key");
    }
  }

  SimConfig Finish() {
    for (int p : ports_) config_.ports[p] = default_far_;
    for (const PortAssignment& a : assignments_) Assign(a);
    // A cable needs both ends: a port whose peer is missing or wired
    // elsewhere falls back to the default far end.
    for (auto& [port, far] : config_.ports) {
      if (far.kind != FarEndKind::kNullModem) continue;
      auto peer = config_.ports.find(far.peer);
      if (peer == config_.ports.end() || peer->second.kind != FarEndKind::kNullModem ||
          peer->second.peer != port || far.peer == port) {
        Problem("nullmodem of port " + std::to_string(port),
                "the other end is not a cable back to it");
        far = default_far_;
      }
    }
    for (const UnplugItem& u : unplugs_) Unplug(u);
    return config_;
  }

  // The item is quoted short: a value of any length, with any bytes, makes
  // one line of reasonable size.
  void Problem(std::string_view item, std::string_view why) {
    ok_ = false;
    if (problems_ != nullptr)
      problems_->push_back("ignored '" + QuoteForMessage(item) + "': " + std::string(why));
  }

  bool ok() const { return ok_; }

 private:
  void FaultItem(std::string_view item, std::string_view kind, std::string_view value) {
    FaultRates& f = config_.faults;
    bool ok = false;
    if (kind == "corrupt")
      ok = ParseFault(value, &f.corrupt, nullptr);
    else if (kind == "drop")
      ok = ParseFault(value, &f.drop, nullptr);
    else if (kind == "cut")
      ok = ParseFault(value, &f.cut, nullptr);
    else if (kind == "linerr")
      ok = ParseFault(value, &f.line_error, &f.line_error_mask);
    else if (kind == "refuse")
      ok = ParseFault(value, &f.refuse, &f.refuse_error);
    else if (kind == "hang")
      ok = ParseFault(value, &f.hang, nullptr);
    else if (kind == "instant")
      ok = ParseFault(value, &f.instant, nullptr);
    else if (kind == "ports") {
      auto list = ParsePortList(value);
      ok = list.has_value();
      if (ok) config_.fault_ports = *list;
    } else {
      return Problem(item, "unknown fault");
    }
    if (!ok) Problem(item, "bad value");
    // A refusal reported as "pending" or "success" would not be a refusal.
    // 997 and 996 say "still going", not "failed": a refusal with them
    // would leave the tester waiting for a transfer that never ends.
    if (ok && kind == "refuse" &&
        (f.refuse_error == kErrorIoPending || f.refuse_error == kErrorIoIncomplete ||
         f.refuse_error == kErrorSuccess)) {
      f.refuse_error = kErrorGenFailure;
      Problem(item, "the error code must be a failure other than 996 and 997; using 31");
    }
  }

  void UnplugValue(std::string_view item, std::string_view value) {
    const size_t colon = value.find(':');
    auto after = ParseSeconds(value.substr(0, colon));
    if (!after) return Problem(item, "bad time (seconds above 0)");
    UnplugItem u{*after, std::nullopt, std::string(item)};
    if (colon != std::string_view::npos) {
      u.ports = ParsePortList(value.substr(colon + 1));
      if (!u.ports) return Problem(item, "bad port list");
    }
    unplugs_.push_back(std::move(u));
  }

  void Unplug(const UnplugItem& u) {
    if (!u.ports) {
      for (const auto& entry : config_.ports) config_.unplug_after[entry.first] = u.after;
      return;
    }
    for (int p : *u.ports) {
      if (config_.ports.count(p) == 0) return Problem(u.item, "port not in the port list");
    }
    for (int p : *u.ports) config_.unplug_after[p] = u.after;
  }

  void PortItem(std::string_view item, const std::set<int>& list, std::string_view value) {
    PortAssignment a;
    a.ports = list;
    a.item = std::string(item);
    if (value == "nullmodem") {
      if (list.size() % 2 != 0)
        return Problem(item, "a null-modem range needs an even number of ports");
      a.far.kind = FarEndKind::kNullModem;
      a.pair_in_order = true;
    } else if (value.substr(0, 10) == "nullmodem:") {
      auto peer = ParsePort(value.substr(10));
      if (list.size() != 1 || !peer) return Problem(item, "expected N=nullmodem:M");
      a.far.kind = FarEndKind::kNullModem;
      a.far.peer = *peer;
    } else {
      auto far = ParseFarEnd(value);
      if (!far) return Problem(item, "bad far end");
      a.far = *far;
    }
    assignments_.push_back(std::move(a));
  }

  void Assign(const PortAssignment& a) {
    for (int p : a.ports) {
      if (ports_.count(p) == 0 || (a.far.kind == FarEndKind::kNullModem && !a.pair_in_order &&
                                   ports_.count(a.far.peer) == 0)) {
        return Problem(a.item, "port not in the port list");
      }
    }
    if (a.far.kind != FarEndKind::kNullModem) {
      for (int p : a.ports) config_.ports[p] = a.far;
      return;
    }
    if (!a.pair_in_order) {
      const int p = *a.ports.begin();
      config_.ports[p] = a.far;
      config_.ports[a.far.peer] = FarEnd{FarEndKind::kNullModem, p, {}, 0};
      return;
    }
    for (auto it = a.ports.begin(); it != a.ports.end(); std::advance(it, 2)) {
      const int first = *it;
      const int second = *std::next(it);
      config_.ports[first] = FarEnd{FarEndKind::kNullModem, second, {}, 0};
      config_.ports[second] = FarEnd{FarEndKind::kNullModem, first, {}, 0};
    }
  }

  std::vector<std::string>* problems_;
  bool ok_ = true;
  SimConfig config_;
  std::set<int> ports_ = [] {
    std::set<int> s;
    for (int p = kDefaultFirstPort; p <= kDefaultLastPort; ++p) s.insert(p);
    return s;
  }();
  FarEnd default_far_;
  std::vector<PortAssignment> assignments_;
  std::vector<UnplugItem> unplugs_;
};

}  // namespace

SimConfig DefaultSimConfig() {
  SimConfig config;
  for (int p = kDefaultFirstPort; p <= kDefaultLastPort; ++p) config.ports[p] = FarEnd{};
  return config;
}

bool ParseSimConfig(std::string_view text, SimConfig* config, std::vector<std::string>* problems) {
  Parser parser(problems);
  while (!text.empty()) {
    const size_t semicolon = text.find(';');
    parser.Item(text.substr(0, semicolon));
    text = semicolon == std::string_view::npos ? std::string_view() : text.substr(semicolon + 1);
  }
  *config = parser.Finish();
  return parser.ok();
}

}  // namespace quarnex
