// PortDialog: which device each port of the test range opens.
//
// One row per port of PortIndex .. PortIndex + PortCount - 1: its device,
// picked from a list (the simulated adapter, the serial devices found on
// the machine, the mapped devices that are not there now, marked missing)
// or typed as a path in the same field, and the UART's internal loopback.
// Above the rows it shows the line the next Start sets up from quarnex.cfg.
//
// It takes the range and the device map as a plain record and, when
// confirmed, hands back the record with the dialog's rules applied
// (port_dialog_rules.h). OK refuses a path the map cannot hold, naming the
// port and the reason under the rows; Cancel leaves the record as it came. The dialog neither
// opens a device nor stores anything: the window does that with the record.
//
// A modal dialog of the user-interface thread.
#ifndef QUARNEX_UI_PORT_DIALOG_H_
#define QUARNEX_UI_PORT_DIALOG_H_

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QTableWidget>
#include <functional>
#include <string>
#include <vector>

#include "testapp/driver/serial_discovery.h"
#include "testapp/ui/port_dialog_rules.h"

namespace quarnex {

// What the dialog shows and does not change: the machine's devices and
// the line settings.
struct PortDialogFacts {
  std::vector<ListedDevice> found;  // as the backends describe them
  // Whether a mapped path leads to a device now.
  std::function<bool(const std::string&)> present = SerialPathPresent;
  LineSummary line;
};

class PortDialog : public QDialog {
  Q_OBJECT

 public:
  PortDialog(const PortDialogValues& values, const PortDialogFacts& facts,
             QWidget* parent = nullptr);

  // The record: as opened until OK, then as confirmed.
  const PortDialogValues& Values() const { return values_; }

  // OK (result 1) and Cancel or Esc (result 2).
  void accept() override;
  void reject() override;

 private:
  void AddRow(int row, const DeviceMapEntry* entry);
  // Column widths and the table's least size, once every row is there.
  void FitTable();
  // The loopback tick is for a serial device only.
  void FollowDevice(int row);
  std::vector<PortRowInput> ReadRows() const;

  PortDialogValues values_;
  std::vector<int> ports_;
  std::vector<DeviceChoice> choices_;
  QTableWidget* table_;
  // Indexed by row.
  std::vector<QComboBox*> devices_;
  std::vector<QCheckBox*> loops_;
  // What OK refused, one line per port; hidden while there is nothing.
  QLabel* problems_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_PORT_DIALOG_H_
