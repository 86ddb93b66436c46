// The report's page as a browser shows it: headless chromium renders the page the command wrote
// to a picture, which must hold the charts' bars in their colours.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "report/LineReportPage.h"
#include "tests/support/CliFixture.h"
#include "tests/support/LineStore.h"

namespace {

class LineReportPageTest : public CliFixture {
protected:
    void SetUp() override {
        CliFixture::SetUp();
        setenv("TZ", "UTC", 1);
        tzset();
    }

    // How many pixels are within a small distance of the colour.
    static int PixelsOf(const QImage& image, QColor colour) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (std::abs(pixel.red() - colour.red()) +
                        std::abs(pixel.green() - colour.green()) +
                        std::abs(pixel.blue() - colour.blue()) <
                    30) {
                    ++count;
                }
            }
        }
        return count;
    }
};

TEST_F(LineReportPageTest, ChromiumRendersThePageWithItsCharts) {
    const std::string chromium = "/usr/bin/chromium";
    if (!std::filesystem::exists(chromium)) {
        GTEST_SKIP() << "chromium is not installed (scripts/install-deps.sh installs it)";
    }
    const std::string store = tempPath("line.sqlite");
    WriteLineDay(*OpenRunStore(store));
    const std::string page = tempPath("line report.html");
    const CliRun result = run({"report", "--since", "2026-12-09", "--until", "2026-12-09", "--html",
                               page, "--store", store});
    ASSERT_EQ(result.status, 0) << result.err;

    const std::string picture = tempPath("line.png");
    const std::string profile = tempPath("chromium-profile");
    std::filesystem::create_directory(profile);
    // A hard limit only against a browser that hangs; it takes seconds.
    const std::string command =
        "timeout -s KILL 180 " + chromium +
        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
        " --disable-background-networking --disable-component-update --disable-sync"
        " --hide-scrollbars --user-data-dir='" +
        profile + "' --screenshot='" + picture + "' --window-size=1200,1600 'file://" + page +
        "' > '" + tempPath("chromium.log") + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << "see " << tempPath("chromium.log");

    const QImage image(QString::fromStdString(picture));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 1200);
    EXPECT_EQ(image.height(), 1600);
    // The yield bars and the passed columns in green, the bad port, failures and the alert's edge
    // in red, the tracks in grey: a blank or unstyled page has none of them.
    EXPECT_GT(PixelsOf(image, QColor(0x2e, 0x7d, 0x32)), 20000);
    EXPECT_GT(PixelsOf(image, QColor(0xc6, 0x28, 0x28)), 3000);
    EXPECT_GT(PixelsOf(image, QColor(0xe8, 0xea, 0xed)), 5000);
}

TEST(LineReportPage, TextFromTheStoreIsEscaped) {
    EXPECT_EQ(HtmlEscaped("<b>\"a\" & 'b'</b>"),
              "&lt;b&gt;&quot;a&quot; &amp; &#39;b&#39;&lt;/b&gt;");
    LineReport report;
    report.periodText = "<script>";
    report.filter.station = "bench<1>";
    const std::string page = LineReportPage(report);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("bench&lt;1&gt;"), std::string::npos);
}

}  // namespace
