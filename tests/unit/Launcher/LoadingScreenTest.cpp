// The download line of the loading screen: its text for the sizes, speeds and times a player meets, and
// the smoothing of the speed behind it.
#include "Frames/LoadingScreen.h"

#include <gtest/gtest.h>

namespace Vexel::Test
{
namespace
{

constexpr std::int64_t _MB = 1024 * 1024;

TEST(LoadingScreenTest, DownloadLineText)
{
    struct Case
    {
        std::int64_t received, total;
        double speed;
        const char16_t* text;
    } cases[] = {
        {static_cast<std::int64_t>(12.4 * _MB), 96 * _MB, 3.1 * _MB, u"12.4 / 96.0 MB, 3.1 MB/s, 27 s left"},
        {0, 96 * _MB, 0.0, u"0.0 / 96.0 MB"},                                  // nothing measured yet
        {5 * _MB, -1, 2.0 * _MB, u"5.0 MB, 2.0 MB/s"},                         // no length announced
        {6 * 1024, 18 * 1024, 512.0 * 1024, u"6 / 18 KB, 512 KB/s, 1 s left"}, // a small module
        {10 * _MB, 100 * _MB, 1.0 * _MB, u"10.0 / 100.0 MB, 1.0 MB/s, 1 min 30 s left"},
        {0, 4000 * _MB, 0.25 * _MB, u"0.0 / 4000.0 MB, 256 KB/s, 4 h 26 min left"},
        {96 * _MB, 96 * _MB, 3.1 * _MB, u"96.0 / 96.0 MB, 3.1 MB/s, 0 s left"},
        {7 * _MB, 5 * _MB, 1.0 * _MB, u"7.0 MB, 1.0 MB/s"}, // a total below what arrived is not believed
        {-5, -1, -1.0, u"0 KB"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)));
        EXPECT_EQ(DownloadProgressText(c.received, c.total, c.speed), c.text);
    }
}

TEST(LoadingScreenTest, SpeedIsSmoothedAndStartsOverWithANewTransfer)
{
    TransferMeter meter;
    meter.Sample(0, 0);
    meter.Sample(500, _MB / 2);
    EXPECT_EQ(meter.BytesPerSecond(), 0.0); // under a second of data
    meter.Sample(1000, _MB);
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), static_cast<double>(_MB));
    // A burst moves the shown speed only part of the way.
    meter.Sample(1500, 3 * _MB);
    double afterBurst = meter.BytesPerSecond();
    EXPECT_GT(afterBurst, 1.0 * _MB);
    EXPECT_LT(afterBurst, 4.0 * _MB);
    // Samples closer together than a quarter second change nothing.
    meter.Sample(1600, 100 * _MB);
    EXPECT_EQ(meter.BytesPerSecond(), afterBurst);
    // Fewer bytes than before: another transfer began, measured afresh.
    meter.Sample(2000, 10);
    EXPECT_EQ(meter.BytesPerSecond(), 0.0);
}

} // namespace
} // namespace Vexel::Test
