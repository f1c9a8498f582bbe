// The worker thread bodies of one port: the writer and the reader.
//
// Each receives its port's record and runs until the run stops, the packet
// limit is reached (reader), or its buffer cannot be allocated (reader). The
// settings, flags and outputs come from the port's run context
// (PortContext::Run), which must outlive the thread.
#ifndef QUARNEX_ENGINE_WORKER_LOOPS_H_
#define QUARNEX_ENGINE_WORKER_LOOPS_H_

#include "testapp/engine/port_table.h"

namespace quarnex {

int WriterLoop(PortContext& port);
int ReaderLoop(PortContext& port);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_WORKER_LOOPS_H_
