// ResultsModel: worker writes land at once and never wait for the
// user-interface thread; the view learns of them in coalesced repaints.
#include "testapp/ui/results_model.h"

#include <QBrush>
#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "testapp/report/port_details.h"

namespace quarnex {

class ResultsModelTest : public QObject {
  Q_OBJECT

 private slots:
  void HeadersAreTheSixColumnsLeftAlignedAndReadOnly() {
    ResultsModel model;
    QCOMPARE(model.columnCount(), 6);
    QStringList headers;
    for (int i = 0; i < 6; ++i) {
      headers << model.headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
      QCOMPARE(model.headerData(i, Qt::Horizontal, Qt::TextAlignmentRole).toInt() &
                   Qt::AlignHorizontal_Mask,
               int(Qt::AlignLeft));
    }
    QCOMPARE(headers, QStringList({"Port", "Packets", "Errors", "Time(ms) -- Avg Last Max (T.P.)",
                                   "Status", "Last Comm Error"}));
    model.InsertRow(0, "Quarnex01");
    QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable));
    QVERIFY(model.flags(model.index(0, 1)) & Qt::ItemIsSelectable);
    QCOMPARE(model.StatusText(0), std::string("Ready"));
  }

  void RowsOnTheUiThreadShowAtOnce() {
    ResultsModel model;
    QCOMPARE(model.InsertRow(5, "Quarnex01"), 0);  // never past the row count
    QCOMPARE(model.InsertRow(1, "Quarnex03"), 1);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.data(model.index(1, 0), Qt::DisplayRole).toString(), QString("Quarnex03"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.SetCell(1, kColumnStatus, "Success");
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.data(model.index(1, kColumnStatus), Qt::DisplayRole).toString(),
             QString("Success"));
    // Cells that do not exist are ignored.
    model.SetCell(2, 0, "x");
    model.SetCell(0, 6, "x");
    model.SetCell(-1, 0, "x");
    QCOMPARE(model.Text(0, 0), std::string("Quarnex01"));
    model.DeleteAllRows();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.Text(0, 0), std::string());
  }

  // The workers finish every write while this thread does nothing but wait
  // for them: a write that needed this thread would hang here.
  void WorkerWritesNeverWaitAndAreCoalesced() {
    constexpr int kRows = 8;
    constexpr int kWrites = 2000;
    ResultsModel model;
    for (int r = 0; r < kRows; ++r) model.InsertRow(r, "Quarnex" + std::to_string(r));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy status(&model, &ResultsModel::StatusTextChanged);

    std::vector<std::thread> workers;
    for (int r = 0; r < kRows; ++r) {
      workers.emplace_back([&model, r] {
        for (int i = 0; i < kWrites; ++i) {
          model.SetCell(r, kColumnPackets, std::to_string(i));
          // Appended: GCC 12 wrongly warns (-Wrestrict) on "t" + a string
          // in an optimised build.
          std::string time_text = "t";
          time_text += std::to_string(i);
          model.SetCell(r, kColumnTime, time_text);
        }
        model.SetStatus(kStatusSummary, "summary");
      });
    }
    for (std::thread& t : workers) t.join();

    // In the model as soon as the calls returned, before any repaint.
    for (int r = 0; r < kRows; ++r) {
      QCOMPARE(model.Text(r, kColumnPackets), std::to_string(kWrites - 1));
      QCOMPARE(model.Text(r, kColumnTime), std::string("t") + std::to_string(kWrites - 1));
    }
    QCOMPARE(model.StatusText(kStatusSummary), std::string("summary"));
    QCOMPARE(changed.count(), 0);

    // One queued flush repaints every dirty row at once.
    QCoreApplication::processEvents();
    QCOMPARE(changed.count(), 1);
    const QModelIndex first = changed[0][0].toModelIndex();
    const QModelIndex last = changed[0][1].toModelIndex();
    QCOMPARE(first.row(), 0);
    QCOMPARE(last.row(), kRows - 1);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status[0][1].toString(), QString("summary"));
  }

  // The view repaints and reads while the workers write: the texts stay
  // whole and the last write of each cell is what remains.
  void ViewReadsWhileWorkersWrite() {
    constexpr int kRows = 4;
    constexpr int kWrites = 3000;
    ResultsModel model;
    for (int r = 0; r < kRows; ++r) model.InsertRow(r, "Quarnex" + std::to_string(r));
    std::atomic<int> running{kRows};
    std::vector<std::thread> workers;
    for (int r = 0; r < kRows; ++r) {
      workers.emplace_back([&model, &running, r] {
        for (int i = 0; i < kWrites; ++i)
          model.SetCell(r, kColumnStatus, "status " + std::to_string(i));
        model.SetStatus(kStatusState, "done");
        --running;
      });
    }
    // At least one pass, however fast the workers are: they may all be done
    // before this thread first looks.
    int reads = 0;
    do {
      QCoreApplication::processEvents();
      for (int r = 0; r < kRows; ++r) {
        const QString text = model.data(model.index(r, kColumnStatus), Qt::DisplayRole).toString();
        QVERIFY(text.isEmpty() || text.startsWith("status "));
        ++reads;
      }
    } while (running.load() > 0);
    for (std::thread& t : workers) t.join();
    QVERIFY(reads > 0);
    for (int r = 0; r < kRows; ++r) {
      QCOMPARE(model.Text(r, kColumnStatus), "status " + std::to_string(kWrites - 1));
    }
  }

  void WorkerRowChangesReachTheViewOnItsThread() {
    ResultsModel model;
    model.InsertRow(0, "Quarnex01");
    std::thread([&model] {
      model.DeleteAllRows();
      model.InsertRow(0, "Quarnex07");
      model.InsertRow(1, "Quarnex08");
      model.SelectWholeRows();
    }).join();
    QCOMPARE(model.StoredRowCount(), 2);
    QCOMPARE(model.rowCount(), 1);  // the view's count moves on its own thread
    QSignalSpy select(&model, &ResultsModel::WholeRowSelectionRequested);
    QCoreApplication::processEvents();
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.data(model.index(0, 0), Qt::DisplayRole).toString(), QString("Quarnex07"));
    QCOMPARE(select.count(), 1);
  }

  // After Stop a worker that judged one more packet must not move the rows
  // past the stop record the window showed; the next run's workers write
  // again.
  void HeldRowsTakeOnlyTheUiThreadsWritesUntilTheNextRun() {
    ResultsModel model;
    model.InsertRow(0, "Quarnex01");
    model.HoldWorkerCells();
    std::thread([&model] { model.SetCell(0, kColumnPackets, "196"); }).join();
    QCOMPARE(model.Text(0, kColumnPackets), std::string());
    model.SetCell(0, kColumnPackets, "195");
    QCOMPARE(model.Text(0, kColumnPackets), std::string("195"));

    model.DeleteAllRows();
    model.InsertRow(0, "Quarnex01");
    std::thread([&model] { model.SetCell(0, kColumnPackets, "1"); }).join();
    QCOMPARE(model.Text(0, kColumnPackets), std::string("1"));
  }

  void SumColumnAddsTheNumbersOfTheFirstRows() {
    ResultsModel model;
    const char* packets[] = {"195", "", "N.A.", "5", "1000"};
    for (int row = 0; row < 5; ++row) {
      model.InsertRow(row, "Quarnex");
      model.SetCell(row, kColumnPackets, packets[row]);
    }
    QCOMPARE(model.SumColumn(kColumnPackets, 4), int64_t{200});
    QCOMPARE(model.SumColumn(kColumnPackets, 99), int64_t{1200});
    QCOMPARE(model.SumColumn(kColumnErrors, 5), int64_t{0});
    QCOMPARE(model.SumColumn(kColumnCount, 5), int64_t{0});
  }

  void RowsTakeTheColourAndDetailsOfTheirPort() {
    ResultsModel model;
    for (int row = 0; row < 3; ++row) model.InsertRow(row, "Quarnex0" + std::to_string(row + 1));
    model.SetCell(0, kColumnStatus, "Success");
    PortCounters passing;
    passing.PortNumber = 1;
    passing.Open = true;
    passing.PacketCount = passing.GoodPacketCount = 10;
    PortCounters failed = passing;
    failed.PortNumber = 3;
    failed.ErrorCount = 1;
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.SetRowPorts({{0, passing}, {2, failed}});
    QCOMPARE(changed.count(), 2);

    auto background = [&model](int row) {
      return model.data(model.index(row, kColumnErrors), Qt::BackgroundRole);
    };
    QCOMPARE(background(0).value<QBrush>().color(), VerdictColor(PortRunVerdict::kPassing));
    QCOMPARE(background(2).value<QBrush>().color(), VerdictColor(PortRunVerdict::kFailed));
    QVERIFY(!background(1).isValid());  // no snapshot yet: no colour
    QCOMPARE(model.RowVerdict(2), std::optional<PortRunVerdict>(PortRunVerdict::kFailed));
    QVERIFY(!model.RowVerdict(1));

    // The tooltip: the cell's own text first, then the port's details.
    auto tip = [&model](int row, int column) {
      return model.data(model.index(row, column), Qt::ToolTipRole).toString();
    };
    const QString details = QString::fromStdString(PortDetailsText(passing));
    QCOMPARE(tip(0, kColumnStatus), "Success\n\n" + details);
    QCOMPARE(tip(0, kColumnPort), details);
    QCOMPARE(tip(0, kColumnTime), details);
    QCOMPARE(tip(1, kColumnPort), QString("Quarnex02"));

    // Only a changed verdict repaints; a closed port has no colour.
    changed.clear();
    passing.PacketCount = passing.GoodPacketCount = 20;
    model.SetRowPorts({{0, passing}, {2, failed}});
    QCOMPARE(changed.count(), 0);
    QVERIFY(tip(0, kColumnPort).contains("Packets: 20"));
    passing.Open = false;
    model.SetRowPorts({{0, passing}});
    QCOMPARE(changed.count(), 1);
    QVERIFY(!background(0).isValid());

    // A new run's rows start without.
    model.DeleteAllRows();
    model.InsertRow(0, "Quarnex01");
    QVERIFY(!model.RowVerdict(0));
    QVERIFY(!background(0).isValid());
  }
};

}  // namespace quarnex

QTEST_MAIN(quarnex::ResultsModelTest)
#include "results_model_test.moc"
