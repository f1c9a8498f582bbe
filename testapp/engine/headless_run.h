// Starting and stopping a run without a window: the engine's share of the
// main window's Start and Stop commands (no log, menu or status bar), for
// tests and benchmarks.
//
// Thread-safety: call from one thread, the one that plays the user
// interface; the outputs of the run context receive the texts.
#ifndef QUARNEX_ENGINE_HEADLESS_RUN_H_
#define QUARNEX_ENGINE_HEADLESS_RUN_H_

#include <string>

#include "testapp/engine/run_context.h"

namespace quarnex {

// StartRun, then, in Transmit only, releases every open port's writer once
// (the first packet of each port), as the Start command does. Returns
// StartRun's result.
bool StartHeadlessRun(RunContext& context);

// StopRun, then waits for every worker thread to end and releases the run's
// objects (JoinAllPorts). Every port is closed when it returns.
void StopHeadlessRun(RunContext& context);

// Writes `text` to `path`, replacing what was there. True on success.
bool WriteTextFile(const std::string& path, const std::string& text);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_HEADLESS_RUN_H_
