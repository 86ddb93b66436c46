// The report's measurements over a line with one port drifting and one marginal board: the
// drifting port is named, the others not, and every form carries the figures.
#include <gtest/gtest.h>

#include <random>

#include "report/CapabilityReport.h"

namespace {

// Three ports' boards in run order, round robin: port 1-3 gets a little worse with each board,
// one board on 1-1 has a slow flash.
MeasurementSeries LineSeries() {
    MeasurementSeries series;
    series.name = "flash.program_ms.max";
    series.unit = "ms";
    series.limits = {std::nullopt, 3.0, std::nullopt, 2.5};
    std::mt19937 generator(5);
    std::normal_distribution<double> noise(0, 0.05);
    for (int board = 0; board < 90; ++board) {
        const std::string port = "1-" + std::to_string(board % 3 + 1);
        double value = 2.0 + noise(generator);
        if (port == "1-3") value += 0.02 * board;
        if (board == 30) value = 2.8;  // the marginal board
        series.values.push_back(value);
        series.ports.push_back({"bench-1", port});
        series.marginal += value > 2.5 && value <= 3.0;
        series.failed += value > 3.0;
    }
    return series;
}

TEST(CapabilityReport, TheDriftingPortIsNamedAndTheCapabilityIsItsSeries) {
    MeasurementSeries steady;
    steady.name = "identify.ms";
    steady.unit = "ms";
    for (int i = 0; i < 90; ++i) {
        steady.values.push_back(10 + (i % 2));
        steady.ports.push_back({"bench-1", "1-" + std::to_string(i % 3 + 1)});
    }
    const CapabilityFigures figures = CapabilityOfSeries({steady, LineSeries()});
    ASSERT_EQ(figures.capability.size(), 2u);
    EXPECT_EQ(figures.capability[0].name, "flash.program_ms.max");  // limited: weaker first
    EXPECT_EQ(figures.capability[0].count, 90u);
    EXPECT_GE(figures.capability[0].marginal, 1);
    EXPECT_EQ(figures.capability[1].cpk, std::nullopt);

    bool drifting = false;
    for (const PortDrift& drift : figures.drifts) {
        EXPECT_EQ(drift.name, "flash.program_ms.max");
        EXPECT_EQ(drift.port.port, "1-3") << DriftRuleName(drift.finding.rule);
        drifting = drifting || drift.port.port == "1-3";
    }
    EXPECT_TRUE(drifting);
}

TEST(CapabilityReport, EachFormCarriesTheFigures) {
    const CapabilityFigures figures = CapabilityOfSeries({LineSeries()});
    const auto json = CapabilityJson(figures);
    ASSERT_EQ(json.size(), 1u);
    std::vector<std::string> keys;
    for (const auto& [key, value] : json[0].items()) keys.push_back(key);
    for (const char* key : {"name", "unit", "count", "mean", "sigma_within", "sigma_overall", "low",
                            "high", "cpk", "ppk", "marginal", "failed"}) {
        EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
    }
    EXPECT_TRUE(json[0]["low"].is_null());
    EXPECT_EQ(json[0]["high"], 3.0);
    EXPECT_EQ(json[0]["count"], 90);
    const auto drifts = DriftJson(figures);
    ASSERT_FALSE(drifts.empty());
    EXPECT_EQ(drifts[0]["alert"], "drift");
    EXPECT_EQ(drifts[0]["port"], "1-3");

    const std::string csv = CapabilityCsv(figures);
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "name,unit,count,mean,sigma_within,sigma_overall,min,max,low,high,cp,cpk,pp,ppk,"
              "marginal,failed");
    EXPECT_NE(csv.find("\nflash.program_ms.max,ms,90,"), std::string::npos);

    const std::string text = CapabilityText(figures);
    EXPECT_NE(text.find("flash.program_ms.max ms"), std::string::npos);
    EXPECT_NE(text.find("DRIFT port bench-1 1-3: flash.program_ms.max"), std::string::npos);

    const std::string svg = CapabilitySvg(figures.capability[0], figures.series[0]);
    EXPECT_NE(svg.find("class=\"control-chart\""), std::string::npos);
    EXPECT_NE(svg.find("class=\"histogram\""), std::string::npos);
    // Drawn in its own units, so the page scales the drawing with the box.
    EXPECT_NE(svg.find("viewBox=\"0 0 420 150\""), std::string::npos);
    EXPECT_NE(svg.find(">UCL "), std::string::npos);
    EXPECT_NE(svg.find(">high 3<"), std::string::npos);
    EXPECT_EQ(std::count(svg.begin(), svg.end(), ','), 90);  // one point per value
}

TEST(CapabilityReport, TheLongFormQuotesWhatCsvNeeds) {
    const std::string csv =
        MeasurementsLongCsv({{"7", "0042", "0x350A", "bench, 1", "1-1", "2026-12-09T10:00:00Z",
                              "identify.ms", "12", "ms", std::nullopt, "20", "pass"}});
    EXPECT_EQ(csv,
              "run_id,serial,die_id,station,port,started_at,name,value,unit,low,high,outcome\n"
              "7,0042,0x350A,\"bench, 1\",1-1,2026-12-09T10:00:00Z,identify.ms,12,ms,,20,pass\n");
}

}  // namespace
