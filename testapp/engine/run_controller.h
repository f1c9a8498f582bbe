// The run controller: starts a run over a range of ports, pauses, continues
// and stops it, and closes ports.
//
// Start, Stop, Pause, Continue and CloseAllPorts run on the user-interface
// thread; ReleaseWriter and ClosePort are called from worker threads too.
// Each entry point works on the run context it is given: its settings,
// block, options and slots; messages go to its MessageSink, rows to its
// ResultsView.
#ifndef QUARNEX_ENGINE_RUN_CONTROLLER_H_
#define QUARNEX_ENGINE_RUN_CONTROLLER_H_

#include <string>

#include "testapp/engine/port_table.h"
#include "testapp/engine/run_context.h"

namespace quarnex {

// Marks all 128 slots unused (program start).
void ClearPortSlots(RunContext& context);

// Starts a run with the settings of `context` in its slots. True when at
// least one port is fully set up.
bool StartRun(RunContext& context);
void StopRun(RunContext& context);
void PauseRun(RunContext& context);
void ContinueRun(RunContext& context);
// Releases the port's writer for one packet: clears the packet's results,
// counts the release in WritesReleased and signals the writer thread.
void ReleaseWriter(PortContext& port);
// The same without the signal, for a caller that sends the packet itself.
void CountRelease(PortContext& port);
// Releases the writer of every open port of the run once.
void ReleaseOpenWriters(RunContext& context);
// Right after a successful StartRun: in Transmit only, the first release of
// every open port's writer (nothing moves until then); in the other modes
// nothing, since each reader sends its own first packet.
void StartTransmitters(RunContext& context);
// Closes the port's device exactly once, however many threads race.
void ClosePort(PortContext& port);
void CloseAllPorts(RunContext& context);
// Waits for every worker thread of every slot to end (after StopRun).
// Then closes the ports no thread is left to close (a setup that failed
// part-way) and releases the run's objects: receive buffers, events, device
// objects, orphan records and the file buffer. StartRun does the same
// before it touches a slot; the program calls it once more at exit.
void JoinAllPorts(RunContext& context);

// Reads the transmit/compare file into the FileBuffer of `context` and its
// size into its FileSize. Only a non-empty regular file of at most 4 GiB - 1 bytes is
// read (regular_file.h); otherwise returns false with FileSize 0 and the
// reason in *reason, and FileBuffer is left as it was.
inline constexpr char kReasonEmptyFile[] = "empty file";
// Why a port was not opened when its backend told no reason, and for a
// port number past any port.
inline constexpr char kReasonNotFound[] = "not found";
inline constexpr char kReasonNoSuchPortNumber[] = "no port has this number";
bool LoadTransmitFile(RunContext& context, const char* file_name, std::string* reason);
void BuildTxPattern(RunContext& context);
// Starts the port's reader, writer and exerciser as the mode and the options
// ask, through the run's thread starter. False, with the system's reason in
// *problem, when one could not be created; those started before it run on.
bool StartPortThreads(PortContext& port, int32_t mode, std::string* problem);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_RUN_CONTROLLER_H_
