#include "testapp/ui/plot_series.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace quarnex {
namespace {

constexpr int kFirstPort = 5;

PortCounters Counters(int port, int64_t packets, int64_t good, int64_t errors, double time_ms) {
  PortCounters c;
  c.PortNumber = port;
  c.PacketCount = packets;
  c.GoodPacketCount = good;
  c.ErrorCount = errors;
  c.TotalPacketTime = time_ms;
  return c;
}

void ExpectFigure(double got, double want, const char* what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what << ": got " << got;
  } else {
    EXPECT_NEAR(got, want, 1e-9) << what;
  }
}

// Each case: one port, a snapshot at second 1 and one at second 1.5; the
// second point must hold the figure of that half second alone.
TEST(RunSeriesTest, FigureOfEachIntervalFromTheCounters) {
  const struct {
    const char* what;
    double expected_ms, factor;
    PortCounters first, second;
    double figure;  // of the second interval; NaN: none
  } kCases[] = {
      {"every packet at the ideal time", 10.0, 1, Counters(kFirstPort, 100, 100, 0, 1000.0),
       Counters(kFirstPort, 150, 150, 0, 1500.0), 100.0},
      // The run so far averages 11 ms (90.9 %); the interval alone 12.5 ms.
      {"the interval, not the run", 10.0, 1, Counters(kFirstPort, 100, 100, 0, 1000.0),
       Counters(kFirstPort, 140, 140, 0, 1500.0), 80.0},
      {"file mode counts the file's share", 10.0, 2.5, Counters(kFirstPort, 10, 10, 0, 250.0),
       Counters(kFirstPort, 20, 20, 0, 500.0), 100.0},
      {"failed packets take no share", 10.0, 1, Counters(kFirstPort, 100, 100, 0, 1000.0),
       Counters(kFirstPort, 160, 140, 20, 1500.0), 80.0},
      {"every packet of the interval failed", 10.0, 1, Counters(kFirstPort, 100, 100, 0, 1000.0),
       Counters(kFirstPort, 130, 100, 30, 1000.0), 0.0},
      {"nothing judged: a packet longer than the interval", 2000.0, 1,
       Counters(kFirstPort, 1, 1, 0, 2000.0), Counters(kFirstPort, 1, 1, 0, 2000.0), NAN},
      {"no bit rate: good packets per second", 0.0, 1, Counters(kFirstPort, 100, 100, 0, 500.0),
       Counters(kFirstPort, 160, 150, 10, 800.0), 100.0},
      {"no bit rate, nothing judged", 0.0, 1, Counters(kFirstPort, 100, 100, 0, 500.0),
       Counters(kFirstPort, 100, 100, 0, 500.0), 0.0},
  };
  for (const auto& c : kCases) {
    RunSeries run;
    run.Reset(kFirstPort, 1, c.expected_ms, c.factor);
    EXPECT_EQ(run.Unit(),
              c.expected_ms > 0 ? PlotUnit::kPercentOfLineRate : PlotUnit::kGoodPacketsPerSecond)
        << c.what;
    run.Sample(1.0, {c.first});
    run.Sample(1.5, {c.second});
    ASSERT_EQ(run.Port(0).Size(), 2u) << c.what;
    EXPECT_EQ(run.Port(0).Point(1).seconds, 1.5) << c.what;
    ExpectFigure(run.Port(0).Point(1).value, c.figure, c.what);
  }
}

TEST(RunSeriesTest, FirstPointCountsFromStart) {
  RunSeries run;
  run.Reset(kFirstPort, 1, 0.0, 1);
  run.Sample(0.5, {Counters(kFirstPort, 40, 40, 0, 100.0)});
  ASSERT_EQ(run.Port(0).Size(), 1u);
  EXPECT_DOUBLE_EQ(run.Port(0).Point(0).value, 80.0);
}

TEST(RunSeriesTest, AllPortsIsTheMeanOfThePortsWithAFigure) {
  RunSeries run;
  run.Reset(kFirstPort, 4, 10.0, 1);
  // Slot 0 at 100 %, slot 1 failing every packet, slot 2 judging nothing,
  // slot 3 closed (absent); port 99 is not of this run.
  run.Sample(1.0,
             {Counters(kFirstPort, 100, 100, 0, 1000.0), Counters(kFirstPort + 1, 5, 0, 5, 0.0),
              Counters(kFirstPort + 2, 0, 0, 0, 0.0), Counters(99, 100, 100, 7, 1.0)});
  EXPECT_DOUBLE_EQ(run.AllPorts().Point(0).value, 50.0);
  EXPECT_EQ(run.AllPorts().Point(0).errors, 5);
  EXPECT_TRUE(std::isnan(run.Port(2).Point(0).value));
  EXPECT_EQ(run.Port(3).Size(), 0u);
  EXPECT_EQ(run.LastSeconds(), 1.0);
}

TEST(RunSeriesTest, SnapshotNotLaterThanTheLastIsSkipped) {
  RunSeries run;
  run.Reset(kFirstPort, 1, 0.0, 1);
  run.Sample(1.0, {Counters(kFirstPort, 10, 10, 0, 1.0)});
  run.Sample(1.0, {Counters(kFirstPort, 20, 20, 0, 2.0)});
  run.Sample(0.5, {Counters(kFirstPort, 30, 30, 0, 3.0)});
  EXPECT_EQ(run.Port(0).Size(), 1u);
  EXPECT_EQ(run.AllPorts().Size(), 1u);
  run.Sample(2.0, {Counters(kFirstPort, 30, 30, 0, 3.0)});
  EXPECT_DOUBLE_EQ(run.Port(0).Point(1).value, 20.0);
}

TEST(RunSeriesTest, ResetForgetsThePreviousRun) {
  RunSeries run;
  run.Reset(kFirstPort, 2, 0.0, 1);
  run.Sample(1.0, {Counters(kFirstPort, 10, 10, 0, 1.0)});
  run.Reset(1, 3, 10.0, 1);
  EXPECT_EQ(run.PortCount(), 3);
  EXPECT_EQ(run.FirstPort(), 1);
  EXPECT_EQ(run.AllPorts().Size(), 0u);
  EXPECT_EQ(run.LastSeconds(), 0.0);
  // The new run's counters count from 0 again.
  run.Sample(0.5, {Counters(1, 10, 10, 0, 100.0)});
  EXPECT_DOUBLE_EQ(run.Port(0).Point(0).value, 100.0);
}

TEST(RunSeriesTest, ErrorMarksAtTheSamplesWhereErrorsRose) {
  RunSeries run;
  run.Reset(kFirstPort, 2, 10.0, 1);
  // Errors of slot 0 at samples 2 and 5, of slot 1 at sample 5.
  const int64_t errors0[] = {0, 0, 1, 1, 1, 4, 4};
  const int64_t errors1[] = {0, 0, 0, 0, 0, 2, 2};
  for (int i = 0; i < 7; ++i) {
    run.Sample(0.5 * (i + 1), {Counters(kFirstPort, 10 * (i + 1), 10 * (i + 1), errors0[i], 1.0),
                               Counters(kFirstPort + 1, 0, 0, errors1[i], 0.0)});
  }
  auto marks = [](const PlotSeries& s) {
    std::vector<std::pair<double, int64_t>> out;
    for (size_t i = 0; i < s.Size(); ++i) {
      if (s.Point(i).errors > 0) out.emplace_back(s.Point(i).seconds, s.Point(i).errors);
    }
    return out;
  };
  using Marks = std::vector<std::pair<double, int64_t>>;
  EXPECT_EQ(marks(run.Port(0)), (Marks{{1.5, 1}, {3.0, 3}}));
  EXPECT_EQ(marks(run.Port(1)), (Marks{{3.0, 2}}));
  EXPECT_EQ(marks(run.AllPorts()), (Marks{{1.5, 1}, {3.0, 5}}));
}

TEST(PlotSeriesTest, FullSeriesMergesPairsAndKeepsEverySample) {
  const struct {
    size_t max_points;
    int samples;
  } kCases[] = {{8, 7}, {8, 8}, {8, 9}, {8, 1000}, {7, 100}, {0, 5}, {1024, 172800}};
  for (const auto& c : kCases) {
    PlotSeries series(c.max_points);
    const size_t bound = series.MaxPoints();
    int64_t errors = 0;
    for (int i = 1; i <= c.samples; ++i) {
      // Every third sample has no figure; every fifth counts an error.
      const bool figure = i % 3 != 0;
      series.Add(0.5 * i, figure ? i : 0.0, figure ? 1 : 0, i % 5 == 0 ? 1 : 0);
      errors += i % 5 == 0 ? 1 : 0;
      ASSERT_LE(series.Size(), bound) << "max " << c.max_points << " after " << i;
    }
    SCOPED_TRACE(testing::Message() << "max " << c.max_points << ", " << c.samples << " samples");
    EXPECT_EQ(bound % 2, 0u);
    EXPECT_GE(bound, 2u);
    // Once merged, a series keeps at least half its room.
    if (series.SamplesPerPoint() > 1) {
      EXPECT_GT(series.Size(), bound / 2);
    }
    // Every point but the last spans the same samples; together they span
    // all of them, and their errors and figures add up to what went in.
    const int64_t stride = series.SamplesPerPoint();
    const size_t n = series.Size();
    EXPECT_LT(static_cast<int64_t>(n - 1) * stride, c.samples);
    EXPECT_LE(c.samples, static_cast<int64_t>(n) * stride);
    int64_t got_errors = 0;
    for (size_t i = 0; i < n; ++i) {
      const PlotPoint p = series.Point(i);
      got_errors += p.errors;
      if (i + 1 < n) {
        EXPECT_DOUBLE_EQ(p.seconds, 0.5 * static_cast<double>((i + 1) * stride));
      }
    }
    EXPECT_DOUBLE_EQ(series.Point(n - 1).seconds, 0.5 * c.samples);
    EXPECT_EQ(got_errors, errors);
    // The mean of a full point is the mean of its samples' figures.
    if (stride >= 3) {
      double want = 0;
      int count = 0;
      for (int64_t i = 1; i <= stride; ++i) {
        if (i % 3 != 0) {
          want += static_cast<double>(i);
          ++count;
        }
      }
      EXPECT_DOUBLE_EQ(series.Point(0).value, want / count);
    }
  }
}

}  // namespace
}  // namespace quarnex
