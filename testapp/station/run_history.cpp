#include "testapp/station/run_history.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <type_traits>
#include <utility>

#include "testapp/platform/clock.h"
#include "testapp/report/row_text.h"
#include "testapp/report/text_format.h"
#include "testapp/station/json_report.h"
#include "testapp/station/pass_fail.h"
#include "testapp/station/result_writing.h"

namespace quarnex {

namespace {

// The schema's version in PRAGMA user_version; a file with a later one is
// refused rather than written in a shape its reader does not know.
constexpr int kSchemaVersion = 1;

constexpr char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS runs (
  id INTEGER PRIMARY KEY,
  label TEXT NOT NULL,
  started_at TEXT NOT NULL,
  stopped_at TEXT,
  finished INTEGER NOT NULL DEFAULT 0,
  result TEXT,
  exit_status INTEGER,
  end_reason TEXT,
  elapsed_s REAL,
  mode TEXT NOT NULL,
  port_index INTEGER NOT NULL,
  port_count INTEGER NOT NULL,
  packet_size INTEGER NOT NULL,
  bit_rate INTEGER,
  expected_packet_time_ms REAL,
  settings TEXT NOT NULL,
  ports_passed INTEGER,
  ports_failed INTEGER
);
CREATE INDEX IF NOT EXISTS runs_by_start ON runs (started_at);
CREATE TABLE IF NOT EXISTS ports (
  run_id INTEGER NOT NULL REFERENCES runs (id),
  port INTEGER NOT NULL,
  label TEXT NOT NULL,
  opened INTEGER NOT NULL,
  open INTEGER NOT NULL,
  lost INTEGER NOT NULL,
  packets INTEGER NOT NULL,
  good_packets INTEGER NOT NULL,
  errors INTEGER NOT NULL,
  write_failed INTEGER NOT NULL,
  write_aborted INTEGER NOT NULL,
  read_failed INTEGER NOT NULL,
  read_aborted INTEGER NOT NULL,
  length_mismatch INTEGER NOT NULL,
  data_mismatch INTEGER NOT NULL,
  read_timeouts INTEGER NOT NULL,
  write_timeouts INTEGER NOT NULL,
  line_break INTEGER NOT NULL,
  line_framing INTEGER NOT NULL,
  line_overrun INTEGER NOT NULL,
  line_receive_overflow INTEGER NOT NULL,
  line_parity INTEGER NOT NULL,
  line_transmit_full INTEGER NOT NULL,
  total_packet_time_ms REAL NOT NULL,
  avg_ms REAL,
  last_ms REAL,
  max_ms REAL,
  throughput_pct REAL,
  status TEXT NOT NULL,
  last_comm_error TEXT NOT NULL,
  pass INTEGER NOT NULL,
  failures TEXT NOT NULL,
  first_mismatch TEXT,
  PRIMARY KEY (run_id, port)
);
CREATE TABLE IF NOT EXISTS intervals (
  run_id INTEGER NOT NULL REFERENCES runs (id),
  seq INTEGER NOT NULL,
  elapsed_s REAL NOT NULL,
  interval_s REAL NOT NULL,
  port INTEGER NOT NULL,
  packets INTEGER NOT NULL,
  good_packets INTEGER NOT NULL,
  errors INTEGER NOT NULL,
  interval_packets INTEGER NOT NULL,
  interval_good_packets INTEGER NOT NULL,
  interval_errors INTEGER NOT NULL,
  packets_per_s REAL NOT NULL,
  avg_ms REAL,
  throughput_pct REAL,
  PRIMARY KEY (run_id, seq, port)
);
)sql";

// The run columns after the id, in the order the statements below bind and
// read them.
constexpr char kRunColumns[] =
    "label, started_at, stopped_at, finished, result, exit_status, end_reason, elapsed_s, mode, "
    "port_index, port_count, packet_size, bit_rate, expected_packet_time_ms, settings, "
    "ports_passed, ports_failed";
constexpr int kRunColumnCount = 17;

constexpr char kPortColumns[] =
    "port, label, opened, open, lost, packets, good_packets, errors, write_failed, "
    "write_aborted, read_failed, read_aborted, length_mismatch, data_mismatch, read_timeouts, "
    "write_timeouts, line_break, line_framing, line_overrun, line_receive_overflow, line_parity, "
    "line_transmit_full, total_packet_time_ms, avg_ms, last_ms, max_ms, throughput_pct, status, "
    "last_comm_error, pass, failures, first_mismatch";
constexpr int kPortColumnCount = 32;

std::string Placeholders(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += i == 0 ? "?" : ", ?";
  return text;
}

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

// A prepared statement with a cursor over its parameters and columns.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }

  // Makes the statement ready to run again with new values.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    bound_ = 0;
  }

  void Bind(int64_t value) { sqlite3_bind_int64(stmt_, ++bound_, value); }
  void Bind(double value) { sqlite3_bind_double(stmt_, ++bound_, value); }
  void Bind(const std::string& value) {
    sqlite3_bind_text(stmt_, ++bound_, value.data(), static_cast<int>(value.size()),
                      SQLITE_TRANSIENT);
  }
  template <typename T>
  void Bind(const std::optional<T>& value) {
    if (value) return Bind(*value);
    sqlite3_bind_null(stmt_, ++bound_);
  }
  void Bind(int value) { Bind(int64_t{value}); }
  void Bind(bool value) { Bind(int64_t{value ? 1 : 0}); }

  // SQLITE_ROW, SQLITE_DONE or an error; a new row starts the column
  // cursor over.
  int Step() {
    column_ = 0;
    return sqlite3_step(stmt_);
  }

  bool NextIsNull() const { return sqlite3_column_type(stmt_, column_) == SQLITE_NULL; }
  int64_t Int() { return sqlite3_column_int64(stmt_, column_++); }
  double Real() { return sqlite3_column_double(stmt_, column_++); }
  std::string Text() {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column_));
    const int size = sqlite3_column_bytes(stmt_, column_++);
    return text != nullptr ? std::string(text, static_cast<size_t>(size)) : std::string();
  }
  template <typename T>
  void Read(std::optional<T>* value) {
    if (NextIsNull()) {
      ++column_;
      value->reset();
    } else if constexpr (std::is_same_v<T, std::string>) {
      *value = Text();
    } else if constexpr (std::is_floating_point_v<T>) {
      *value = Real();
    } else {
      *value = static_cast<T>(Int());
    }
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int bound_ = 0;
  int column_ = 0;
};

std::string UtcText(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  return FormatC("%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                 utc.tm_hour, utc.tm_min, utc.tm_sec);
}

std::optional<double> ExpectedPacketMs(double expected_packet_ms) {
  if (std::isfinite(expected_packet_ms) && expected_packet_ms > 0) return expected_packet_ms;
  return std::nullopt;
}

HistoryPort PortOf(const PortSnapshot& port, const RunSnapshot& run, const Limits& limits) {
  const PortCounters& c = port.Counters;
  HistoryPort p;
  p.port = c.PortNumber;
  p.label = PortLabel(port.Counters.PortNumber);
  p.opened = port.Opened;
  p.open = port.Counters.Open;
  p.lost = port.Counters.Lost;
  p.packets = c.PacketCount;
  p.good_packets = c.GoodPacketCount;
  p.errors = c.ErrorCount;
  p.write_failed = c.WriteFailedCount;
  p.write_aborted = c.WriteAbortedCount;
  p.read_failed = c.ReadFailedCount;
  p.read_aborted = c.ReadAbortedCount;
  p.length_mismatch = c.LengthMismatchCount;
  p.data_mismatch = c.DataMismatchCount;
  p.read_timeouts = port.Counters.ReadTimeoutCount;
  p.write_timeouts = port.Counters.WriteTimeoutCount;
  p.line_errors = c.LineErrorCount;
  p.total_packet_time_ms = c.TotalPacketTime;
  p.avg_ms = AveragePacketMs(c);
  if (p.avg_ms) {
    p.last_ms = port.LastPacketTime;
    p.max_ms = port.MaxPacketTime;
  }
  p.throughput_pct = ThroughputPct(p.avg_ms, run.ExpectedPacketTime, run.PacketsPerJudged);
  p.status = PortStatusText(port);
  p.last_comm_error = port.LastCommError;
  const PortVerdict verdict = JudgePort(port, run, limits);
  p.pass = verdict.pass;
  p.failures = JsonStringArray(verdict.failures);
  if (c.Mismatch.Kind != MismatchKind::kNone) p.first_mismatch = JsonFirstMismatch(c.Mismatch);
  return p;
}

void BindRun(Statement* s, const HistoryRun& r) {
  s->Bind(r.label);
  s->Bind(r.started_at);
  s->Bind(r.stopped_at);
  s->Bind(r.finished);
  s->Bind(r.result);
  s->Bind(r.exit_status);
  s->Bind(r.end_reason);
  s->Bind(r.elapsed_s);
  s->Bind(r.mode);
  s->Bind(r.port_index);
  s->Bind(r.port_count);
  s->Bind(r.packet_size);
  s->Bind(r.bit_rate);
  s->Bind(r.expected_packet_time_ms);
  s->Bind(r.settings);
  s->Bind(r.ports_passed);
  s->Bind(r.ports_failed);
}

// Inserts `r` as a new row of runs; its id, or 0 when it could not.
int64_t InsertRun(sqlite3* db, const HistoryRun& r) {
  Statement insert(db, std::string("INSERT INTO runs (") + kRunColumns + ") VALUES (" +
                           Placeholders(kRunColumnCount) + ")");
  if (!insert.ok()) return 0;
  BindRun(&insert, r);
  if (insert.Step() != SQLITE_DONE) return 0;
  return sqlite3_last_insert_rowid(db);
}

void ReadRun(Statement* s, HistoryRun* r) {
  r->id = s->Int();
  r->label = s->Text();
  r->started_at = s->Text();
  s->Read(&r->stopped_at);
  r->finished = s->Int() != 0;
  s->Read(&r->result);
  s->Read(&r->exit_status);
  s->Read(&r->end_reason);
  s->Read(&r->elapsed_s);
  r->mode = s->Text();
  r->port_index = static_cast<int32_t>(s->Int());
  r->port_count = static_cast<int32_t>(s->Int());
  r->packet_size = static_cast<int32_t>(s->Int());
  s->Read(&r->bit_rate);
  s->Read(&r->expected_packet_time_ms);
  r->settings = s->Text();
  s->Read(&r->ports_passed);
  s->Read(&r->ports_failed);
}

void BindPort(Statement* s, const HistoryPort& p) {
  s->Bind(p.port);
  s->Bind(p.label);
  s->Bind(p.opened);
  s->Bind(p.open);
  s->Bind(p.lost);
  for (int64_t v :
       {p.packets, p.good_packets, p.errors, p.write_failed, p.write_aborted, p.read_failed,
        p.read_aborted, p.length_mismatch, p.data_mismatch, p.read_timeouts, p.write_timeouts}) {
    s->Bind(v);
  }
  for (int64_t v : p.line_errors) s->Bind(v);
  s->Bind(p.total_packet_time_ms);
  s->Bind(p.avg_ms);
  s->Bind(p.last_ms);
  s->Bind(p.max_ms);
  s->Bind(p.throughput_pct);
  s->Bind(p.status);
  s->Bind(p.last_comm_error);
  s->Bind(p.pass);
  s->Bind(p.failures);
  s->Bind(p.first_mismatch);
}

void ReadPort(Statement* s, HistoryPort* p) {
  p->port = static_cast<int32_t>(s->Int());
  p->label = s->Text();
  p->opened = s->Int() != 0;
  p->open = s->Int() != 0;
  p->lost = s->Int() != 0;
  for (int64_t* v : {&p->packets, &p->good_packets, &p->errors, &p->write_failed, &p->write_aborted,
                     &p->read_failed, &p->read_aborted, &p->length_mismatch, &p->data_mismatch,
                     &p->read_timeouts, &p->write_timeouts}) {
    *v = s->Int();
  }
  for (int64_t& v : p->line_errors) v = s->Int();
  p->total_packet_time_ms = s->Real();
  s->Read(&p->avg_ms);
  s->Read(&p->last_ms);
  s->Read(&p->max_ms);
  s->Read(&p->throughput_pct);
  p->status = s->Text();
  p->last_comm_error = s->Text();
  p->pass = s->Int() != 0;
  p->failures = s->Text();
  s->Read(&p->first_mismatch);
}

}  // namespace

HistoryRun HistoryRunStarted(const RunDescription& run, const std::string& label) {
  HistoryRun r;
  r.label = label;
  r.started_at = run.started_at;
  r.mode = ModeName(run.mode);
  r.port_index = run.port_index;
  r.port_count = run.port_count;
  r.packet_size = run.packet_size;
  r.bit_rate = run.bit_rate;
  r.settings = JsonSettingsObject(run);
  return r;
}

HistoryRun HistoryRunOf(const RunOutcome& outcome, const std::string& label,
                        std::time_t stopped_at) {
  HistoryRun r = HistoryRunStarted(outcome.run, label);
  const RunSnapshot& run = outcome.figures;
  r.stopped_at = UtcText(stopped_at);
  r.finished = true;
  r.result = outcome.exit_status == kExitPass   ? "pass"
             : outcome.exit_status == kExitFail ? "fail"
                                                : "not_started";
  r.exit_status = outcome.exit_status;
  r.end_reason = EndReasonName(outcome.end_reason);
  r.elapsed_s = run.ElapsedSeconds;
  r.expected_packet_time_ms = ExpectedPacketMs(run.ExpectedPacketTime);
  int passed = 0;
  for (const PortSnapshot& port : run.Ports) {
    r.ports.push_back(PortOf(port, run, outcome.run.limits));
    passed += r.ports.back().pass ? 1 : 0;
  }
  r.ports_passed = passed;
  r.ports_failed = static_cast<int>(run.Ports.size()) - passed;
  return r;
}

struct RunHistory::Impl {
  Database db;
  std::string path;
  // When the write going on first found the file busy; its thread only.
  double busy_since_ms = 0.0;
  std::mutex cut_mu;
  std::condition_variable cut_cv;
  bool cut = false;  // guarded by cut_mu

  // SQLite's busy handler: waits up to kBusyTimeoutMs for each write, in
  // steps, unless CutWaits was called. `count` is 0 at a write's first
  // call. Returns 1 to try again, 0 to fail the write.
  static int OnBusy(void* arg, int count) {
    Impl* impl = static_cast<Impl*>(arg);
    const double now = SteadyMilliseconds();
    if (count == 0) impl->busy_since_ms = now;
    const double left = kBusyTimeoutMs - (now - impl->busy_since_ms);
    std::unique_lock lock(impl->cut_mu);
    if (impl->cut || left <= 0) return 0;
    impl->cut_cv.wait_for(
        lock, std::chrono::duration<double, std::milli>(std::min<double>(left, kBusyStepMs)),
        [impl] { return impl->cut; });
    return impl->cut ? 0 : 1;
  }

  std::string Failure(const char* what) const {
    return "cannot " + std::string(what) + " the history " + path + ": " + sqlite3_errmsg(db.get());
  }

  bool Exec(const char* sql) {
    return sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  // Runs `body` inside one write transaction; rolls back when it fails.
  template <typename Body>
  bool InTransaction(Body body, std::string* error) {
    if (!Exec("BEGIN IMMEDIATE")) {
      *error = Failure("write");
      return false;
    }
    // The file is ours now: a second Ctrl+C waits for the commit.
    const ResultWriting writing;
    if (!body() || !Exec("COMMIT")) {
      *error = Failure("write");
      Exec("ROLLBACK");
      return false;
    }
    return true;
  }
};

RunHistory::RunHistory(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RunHistory::~RunHistory() = default;

std::unique_ptr<RunHistory> RunHistory::Open(const std::string& path, bool create,
                                             std::string* error) {
  auto impl = std::make_unique<Impl>();
  impl->path = path;
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(
      path.c_str(), &raw, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0), nullptr);
  impl->db.reset(raw);
  if (opened != SQLITE_OK) {
    *error = raw != nullptr ? impl->Failure("open")
                            : "cannot open the history " + path + ": out of memory";
    return nullptr;
  }
  sqlite3_busy_handler(raw, &Impl::OnBusy, impl.get());
  // WAL: a commit is one append, a crash loses at most a transaction that
  // had not committed, and readers never block the writer.
  if (!impl->Exec("PRAGMA journal_mode=WAL")) {
    *error = impl->Failure("open");
    return nullptr;
  }
  int64_t found = 0;
  {
    // Finished before any write: a read left open would make the write
    // below fail at once, without waiting, when another station wrote
    // since it began.
    Statement version(raw, "PRAGMA user_version");
    if (!version.ok() || version.Step() != SQLITE_ROW) {
      *error = impl->Failure("read");
      return nullptr;
    }
    found = version.Int();
  }
  if (found > kSchemaVersion) {
    *error = FormatC("cannot use the history %s: its schema version %lld is newer than %d",
                     path.c_str(), static_cast<long long>(found), kSchemaVersion);
    return nullptr;
  }
  if (!create) {
    if (found != kSchemaVersion) {
      *error = "cannot read the history " + path + ": not a history of runs";
      return nullptr;
    }
    return std::unique_ptr<RunHistory>(new RunHistory(std::move(impl)));
  }
  if (found == kSchemaVersion) return std::unique_ptr<RunHistory>(new RunHistory(std::move(impl)));
  const bool made = impl->InTransaction(
      [&impl] {
        return impl->Exec(kSchema) &&
               impl->Exec(FormatC("PRAGMA user_version=%d", kSchemaVersion).c_str());
      },
      error);
  if (!made) return nullptr;
  return std::unique_ptr<RunHistory>(new RunHistory(std::move(impl)));
}

int64_t RunHistory::BeginRun(const HistoryRun& run, std::string* error) {
  int64_t id = 0;
  const bool ok = impl_->InTransaction(
      [&] {
        id = InsertRun(impl_->db.get(), run);
        return id != 0;
      },
      error);
  return ok ? id : 0;
}

bool RunHistory::RecordInterval(int64_t run_id, int seq, const RunSnapshot& now,
                                const RunSnapshot& before, std::string* error) {
  const double seconds = now.ElapsedSeconds - before.ElapsedSeconds;
  return impl_->InTransaction(
      [&] {
        Statement insert(impl_->db.get(),
                         "INSERT INTO intervals (run_id, seq, elapsed_s, interval_s, port, "
                         "packets, good_packets, errors, interval_packets, "
                         "interval_good_packets, interval_errors, packets_per_s, avg_ms, "
                         "throughput_pct) VALUES (" +
                             Placeholders(14) + ")");
        if (!insert.ok()) return false;
        for (size_t i = 0; i < now.Ports.size(); ++i) {
          const PortSnapshot& port = now.Ports[i];
          const PortSnapshot& earlier = i < before.Ports.size() ? before.Ports[i] : port;
          const PortInterval delta = IntervalOf(port.Counters, earlier.Counters, seconds);
          insert.Reset();
          insert.Bind(run_id);
          insert.Bind(seq);
          insert.Bind(now.ElapsedSeconds);
          insert.Bind(seconds);
          insert.Bind(port.Counters.PortNumber);
          insert.Bind(port.Counters.PacketCount);
          insert.Bind(port.Counters.GoodPacketCount);
          insert.Bind(port.Counters.ErrorCount);
          insert.Bind(delta.Packets);
          insert.Bind(delta.GoodPackets);
          insert.Bind(delta.Errors);
          insert.Bind(delta.PacketsPerSecond);
          insert.Bind(delta.AverageMs);
          insert.Bind(ThroughputPct(delta.AverageMs, now.ExpectedPacketTime, now.PacketsPerJudged));
          if (insert.Step() != SQLITE_DONE) return false;
        }
        return true;
      },
      error);
}

bool RunHistory::FinishRun(const HistoryRun& run, std::string* error) {
  return impl_->InTransaction(
      [&] {
        int64_t id = run.id;
        if (id != 0) {
          Statement update(impl_->db.get(), std::string("UPDATE runs SET (") + kRunColumns +
                                                ") = (" + Placeholders(kRunColumnCount) +
                                                ") WHERE id = ?");
          if (!update.ok()) return false;
          BindRun(&update, run);
          update.Bind(id);
          if (update.Step() != SQLITE_DONE) return false;
          // The row BeginRun wrote is gone (the file was replaced): the run
          // goes in as a new one.
          if (sqlite3_changes(impl_->db.get()) == 0) id = 0;
        }
        if (id == 0 && (id = InsertRun(impl_->db.get(), run)) == 0) return false;
        Statement insert(impl_->db.get(), std::string("INSERT INTO ports (run_id, ") +
                                              kPortColumns + ") VALUES (" +
                                              Placeholders(kPortColumnCount + 1) + ")");
        if (!insert.ok()) return false;
        for (const HistoryPort& port : run.ports) {
          insert.Reset();
          insert.Bind(id);
          BindPort(&insert, port);
          if (insert.Step() != SQLITE_DONE) return false;
        }
        return true;
      },
      error);
}

void RunHistory::CutWaits() {
  {
    std::lock_guard lock(impl_->cut_mu);
    impl_->cut = true;
  }
  impl_->cut_cv.notify_all();
}

bool RunHistory::Query(const HistoryFilter& filter, std::vector<HistoryRun>* runs,
                       std::string* error) {
  runs->clear();
  Statement select(impl_->db.get(),
                   std::string("SELECT id, ") + kRunColumns +
                       " FROM runs WHERE (?1 IS NULL OR label = ?1) AND (?2 IS NULL OR "
                       "started_at >= ?2) ORDER BY started_at, id");
  if (!select.ok()) {
    *error = impl_->Failure("read");
    return false;
  }
  select.Bind(filter.label);
  select.Bind(filter.since);
  int step = SQLITE_ROW;
  while ((step = select.Step()) == SQLITE_ROW) {
    runs->emplace_back();
    ReadRun(&select, &runs->back());
  }
  if (step != SQLITE_DONE) {
    *error = impl_->Failure("read");
    return false;
  }
  Statement select_ports(impl_->db.get(), std::string("SELECT ") + kPortColumns +
                                              " FROM ports WHERE run_id = ? ORDER BY port");
  if (!select_ports.ok()) {
    *error = impl_->Failure("read");
    return false;
  }
  for (HistoryRun& run : *runs) {
    select_ports.Reset();
    select_ports.Bind(run.id);
    while ((step = select_ports.Step()) == SQLITE_ROW) {
      run.ports.emplace_back();
      ReadPort(&select_ports, &run.ports.back());
    }
    if (step != SQLITE_DONE) {
      *error = impl_->Failure("read");
      return false;
    }
  }
  return true;
}

}  // namespace quarnex
