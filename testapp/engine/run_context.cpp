#include "testapp/engine/run_context.h"

#include <algorithm>

namespace quarnex {

namespace {

// Outputs used until the program installs its own: a run without a window
// still works, its texts go nowhere.
class DiscardingOutputs : public ResultsView, public MessageSink {
 public:
  int InsertRow(int position, std::string_view) override { return position; }
  void DeleteAllRows() override {}
  void SetCell(int, int, std::string_view) override {}
  void SetStatus(int, std::string_view) override {}
  void SelectWholeRows() override {}
  void ShowError(std::string_view) override {}
};

DiscardingOutputs& Discard() {
  static DiscardingOutputs outputs;
  return outputs;
}

}  // namespace

RunContext::RunContext() {
  for (PortContext& port : run.Ports) port.Run = this;
}

void RunContext::SetOutputs(ResultsView* view, MessageSink* messages) {
  view_.store(view);
  messages_.store(messages);
}

ResultsView& RunContext::View() const {
  ResultsView* view = view_.load();
  return view != nullptr ? *view : Discard();
}

MessageSink& RunContext::Messages() const {
  MessageSink* messages = messages_.load();
  return messages != nullptr ? *messages : Discard();
}

int RunContext::SlotsInRange() const {
  return std::clamp<int32_t>(settings.Test.PortCount, 0, kMaxPorts);
}

}  // namespace quarnex
