// The program's command line.
#include "testapp/ui/command_line.h"

namespace quarnex {

bool IsAutoStart(const std::vector<std::string>& arguments) {
  return arguments.size() == 1 && arguments[0] == kAutoStartWord;
}

}  // namespace quarnex
