// Everything one program's test runs reach: the user's settings, the
// configuration block and tester options read from the configuration file
// at each Start, the port slots and run flags, and the outputs that rows and
// messages go to.
//
// Each program's main() makes one and hands it down: the window and the
// runner pass it to the engine's entry points, which pass it on to the
// threads they start. Tests and benchmarks make their own, on the heap
// (RunState holds 128 slots). Worker threads reach it through their port
// (PortContext::Run), which the constructor sets before any thread exists,
// so a context must outlive every thread of its runs (until JoinAllPorts
// returned) and is never copied or moved.
//
// Who writes which part, on which thread:
// - settings: loaded by the program at start and saved at its close; in
//   between written on the user-interface thread only, and only while no
//   worker runs (the window's dialogs join a stopped run's workers first),
//   except for StartRun's writes, made before the workers that read them
//   exist. Workers read them without locks.
// - block: written by StartRun on its thread (LoadConfigFile) while it
//   configures the ports; no worker reads it. The status bar and the
//   reports read it on the same thread.
// - options: atomics; StartRun writes them while workers of ports it set
//   up earlier read them (the values stay the same while the file does).
//   They are 0 when the context is made and never reset by a program.
// - run: as port_table.h says per field; the slots outlive a run, so a
//   stopped run's counters stay readable until the next Start.
// - outputs: installed by the program before a run starts; atomics because
//   workers of a stopped run that have not been joined yet still read them.
// - devices: the backend table filled by the program before a run starts;
//   its device map set by the program (the window's Port... dialog) on any
//   thread, read by StartRun at each open.
// - config_overrides: set by the program before a run starts, read by
//   StartRun on its thread.
#ifndef QUARNEX_ENGINE_RUN_CONTEXT_H_
#define QUARNEX_ENGINE_RUN_CONTEXT_H_

#include <atomic>
#include <string>

#include "testapp/driver/open_device.h"
#include "testapp/engine/port_table.h"
#include "testapp/platform/start_thread.h"
#include "testapp/report/results_view.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/configure_port.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

class RunContext {
 public:
  // Zeroed settings, block and options, unused slots, each slot pointing at
  // this context; outputs that discard every text.
  RunContext();
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  Settings settings{};
  DeviceConfigBlock block{};
  TesterOptions options;
  RunState run;

  // Installs the table and message outputs the engine writes to. Both must
  // outlive every run made with this context (until JoinAllPorts returned);
  // null stands for outputs that discard every text.
  void SetOutputs(ResultsView* view, MessageSink* messages);
  ResultsView& View() const;
  MessageSink& Messages() const;

  // Why the last StartRun could not read the configuration file (the
  // reason LoadConfigFile gave); empty when it read it or read none.
  // Written by StartRun, read on the same thread after it returned.
  std::string config_problem;

  // How StartRun opens each port: the program's backend table and device
  // map; no backend, so no port opens, until the program fills it.
  DeviceOpener devices;

  // Entries applied over the configuration file at each Start (the
  // runner's --set); none by default.
  ConfigOverrides config_overrides;

  // How StartRun starts the workers: StartThread, or a test's starter that
  // fails on demand. Set before a run starts.
  ThreadStarter start_thread = StartThread;

  // The number of slots a run uses: the settings' PortCount, kept inside
  // the table (a stored count may lie outside it).
  int SlotsInRange() const;

 private:
  std::atomic<ResultsView*> view_{nullptr};
  std::atomic<MessageSink*> messages_{nullptr};
};

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_RUN_CONTEXT_H_
