// Everything one program's test run reaches: the user's settings, the
// configuration block and tester options read from the configuration file
// at each Start, the port slots and run flags, and the outputs that rows and
// messages go to.
//
// Each program's main() makes one and hands it to the window or the runner,
// which pass it to the engine's entry points; tests and benchmarks make
// their own. Worker threads reach it through their port (PortContext::Run),
// set once before any thread exists.
//
// Thread-safety, by part:
// - settings: written on the user-interface thread only while no worker
//   runs (the dialogs join a stopped run's workers first), and by StartRun
//   before the workers that read them exist. Workers read them without
//   locks.
// - block: written by StartRun on its own thread; workers do not read it.
// - options: atomics, written by StartRun while workers of ports set up
//   earlier read them (the values stay the same while the file does).
// - run: as port_table.h says per field.
// - outputs: installed before a run starts; atomics because workers of a
//   stopped run that have not been joined yet still read them.
#ifndef QUARNEX_ENGINE_RUN_CONTEXT_H_
#define QUARNEX_ENGINE_RUN_CONTEXT_H_

#include <atomic>

#include "testapp/engine/port_table.h"
#include "testapp/report/results_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

class RunContext {
 public:
  // Points every slot of `run` at this context. The parts must outlive it.
  RunContext(Settings& settings_part, DeviceConfigBlock& block_part, TesterOptions& options_part,
             RunState& run_part);
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  Settings& settings;
  DeviceConfigBlock& block;
  TesterOptions& options;
  RunState& run;

  // Installs the table and message outputs the engine writes to. Both must
  // outlive every run made with this context (until JoinAllPorts returned);
  // null stands for outputs that discard every text.
  void SetOutputs(ResultsView* view, MessageSink* messages);
  ResultsView& View() const;
  MessageSink& Messages() const;

  // The number of slots a run uses: the settings' PortCount, kept inside
  // the table (a stored count may lie outside it).
  int SlotsInRange() const;

 private:
  std::atomic<ResultsView*> view_{nullptr};
  std::atomic<MessageSink*> messages_{nullptr};
};

// The context built from the process-wide records, while the programs still
// keep them.
RunContext& ProcessRunContext();

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_RUN_CONTEXT_H_
