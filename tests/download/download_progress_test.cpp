#include "download/download_progress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {
constexpr uint32_t k100MB = 104857600;

std::string StatusLine(uint32_t received, uint32_t total, int64_t rate) {
    char line[kDownloadStatusSize];
    DownloadStatusLine(line, sizeof(line), received, total, rate);
    return line;
}

std::string Request(const char* url, int value, size_t size = kRequestAddressSize) {
    char out[kRequestAddressSize];
    memset(out, 'x', sizeof(out));
    bool fits = BuildRequestAddress(out, size, url, value);
    return fits ? std::string(out) : "<too long:" + std::string(out) + ">";
}
}  // namespace

TEST(DownloadProgress, ShowsBarRateAndLineOncePerElapsedSecond) {
    // 5 s after the start, 2.5 MB of 100 MB: the bar at 25 of 1000, 512 KB/s.
    ProgressStep step = DecideProgress(2621440, k100MB, false, 1005, 1000, 4);
    EXPECT_FALSE(step.abort);
    EXPECT_TRUE(step.show);
    EXPECT_EQ(step.elapsed, 5);
    EXPECT_EQ(step.barPosition, 25);
    EXPECT_EQ(step.rate, 524288);
    EXPECT_EQ(StatusLine(2621440, k100MB, step.rate), "2.50 MB of 100.00 MB Downloaded (512.00 KB/s)");

    // A time left follows the line's own text.
    char line[kDownloadStatusSize];
    DownloadStatusLine(line, sizeof line, 2621440, k100MB, step.rate, "about 3 min left");
    EXPECT_STREQ(line, "2.50 MB of 100.00 MB Downloaded (512.00 KB/s), about 3 min left");

    // A second report within the same elapsed second changes nothing.
    step = DecideProgress(2700000, k100MB, false, 1005, 1000, 5);
    EXPECT_FALSE(step.show);
    EXPECT_FALSE(step.abort);
}

TEST(DownloadProgress, FirstSecondAndLaterRuns) {
    // The program's first download: elapsed 0 equals the initial last second, nothing shown.
    EXPECT_FALSE(DecideProgress(1000, 5000, false, 77, 77, 0).show);
    // A later run whose last shown second was 3: its first second shows, with rate 0.
    ProgressStep step = DecideProgress(1000, 5000, false, 77, 77, 3);
    EXPECT_TRUE(step.show);
    EXPECT_EQ(step.elapsed, 0);
    EXPECT_EQ(step.rate, 0);
    EXPECT_EQ(StatusLine(1000, 5000, step.rate), "1000 Bytes of 4.88 KB Downloaded (0 Bytes/s)");
    // ...and skips the second that equals the last one shown in the earlier run.
    EXPECT_FALSE(DecideProgress(1000, 5000, false, 80, 77, 3).show);
    // A clock that went backwards counts as 0 seconds.
    step = DecideProgress(1000, 5000, false, 70, 77, 9);
    EXPECT_EQ(step.elapsed, 0);
    EXPECT_EQ(step.rate, 0);
}

TEST(DownloadProgress, CancelAbortsAlsoWithoutALength) {
    EXPECT_TRUE(DecideProgress(100, k100MB, true, 1005, 1000, 0).abort);
    EXPECT_FALSE(DecideProgress(100, k100MB, true, 1005, 1000, 0).show);
    ProgressStep noLength = DecideProgress(123456, 0, true, 1005, 1000, 0);
    EXPECT_TRUE(noLength.abort);
    // Without a cancel, a report without a total shows nothing: bar and status stay.
    noLength = DecideProgress(123456, 0, false, 1005, 1000, 0);
    EXPECT_FALSE(noLength.abort);
    EXPECT_FALSE(noLength.show);
}

TEST(DownloadProgress, BarUsesUnsignedCountsAndTruncates) {
    // Counts above 2^31 are unsigned: 3 GiB of 4 GiB - 1 stands at 750.
    EXPECT_EQ(DecideProgress(3221225472u, 4294967295u, false, 10, 0, 0).barPosition, 750);
    EXPECT_EQ(DecideProgress(999, 1000, false, 10, 0, 0).barPosition, 999);
    EXPECT_EQ(DecideProgress(1000, 1000, false, 10, 0, 0).barPosition, 1000);
    EXPECT_EQ(DecideProgress(1, 3, false, 10, 0, 0).barPosition, 333);
    // The rate of a fast link does not wrap: 4 GiB - 1 in one second.
    EXPECT_EQ(DecideProgress(4294967295u, 4294967295u, false, 1, 0, 0).rate, 4294967295LL);
    EXPECT_EQ(StatusLine(4294967295u, 4294967295u, 4294967295LL),
              "4.00 GB of 4.00 GB Downloaded (4.00 GB/s)");
}

TEST(DownloadRequest, AppendsRandToTheConfiguredQuery) {
    EXPECT_EQ(Request("https://example.test/image?product=halcyra", 0),
              "https://example.test/image?product=halcyra&Rand=0");
    EXPECT_EQ(Request("http://127.0.0.1:8080/halcyra/image?a=1&b=2", 32767),
              "http://127.0.0.1:8080/halcyra/image?a=1&b=2&Rand=32767");
    // An address without a query string gets one.
    EXPECT_EQ(Request("http://127.0.0.1/image.bin", 5), "http://127.0.0.1/image.bin?Rand=5");
}

TEST(DownloadRequest, TheRequestsOfAnImageAddressAreToldApartFromOtherAddresses) {
    const char* image = "https://example.test/image?product=halcyra";
    const struct {
        const char* address;
        bool ours;
    } rows[] = {
        {"https://example.test/image?product=halcyra&Rand=32767", true},
        {"https://example.test/image?product=halcyra&Rand=", false},
        {"https://example.test/image?product=halcyra&Rand=12&moved=1", false},
        {"https://example.test/image?product=halcyra?Rand=1", false},
        {"https://example.test/image?product=halcyrax&Rand=1", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(IsRequestAddressOf(row.address, image), row.ours) << row.address;
    EXPECT_TRUE(
        IsRequestAddressOf("http://127.0.0.1/image.bin?Rand=5", "http://127.0.0.1/image.bin"));
}

TEST(DownloadRequest, AnAddressThatDoesNotFitGivesNoRequest) {
    std::string url = "http://h/i?q=" + std::string(100, 'a');
    size_t exact = url.size() + strlen("&Rand=12345") + 1;
    EXPECT_EQ(Request(url.c_str(), 12345, exact), url + "&Rand=12345");
    EXPECT_EQ(Request(url.c_str(), 12345, exact - 1), "<too long:>");
    EXPECT_EQ(Request(url.c_str(), 1, 0).substr(0, 10), "<too long:");
}

TEST(DownloadRequest, ImageAddressIsTheAdministratorsWhenItIsAnHttpAddress) {
    EXPECT_STREQ(ImageAddressFrom("http://127.0.0.1:9/x?y=1"), "http://127.0.0.1:9/x?y=1");
    EXPECT_STREQ(ImageAddressFrom("HTTPS://mirror.example/h.bin"), "HTTPS://mirror.example/h.bin");
    const char* builtIn = ImageAddressFrom(nullptr);
    for (const char* refused : {"", "http://", "file:///C:/image.bin", "\\\\server\\share\\x",
                                "http://host/a b", "http://host/\r\nX-Injected: 1", "ftp://host/x"})
        EXPECT_STREQ(ImageAddressFrom(refused), builtIn) << refused;
    // The built-in address is https on the maker's host and carries a query string.
    EXPECT_EQ(std::string(builtIn).rfind("https://", 0), 0u);
    EXPECT_NE(strchr(builtIn, '?'), nullptr);
    EXPECT_EQ(std::string(kImageFileName).substr(strlen(kImageFileName) - 4), ".bin");
}

TEST(DownloadRequest, RandomStaysInRangeAndSeedsDiffer) {
    EXPECT_EQ(RequestRandom(0), 0);
    EXPECT_EQ(RequestRandom(32767), 32767);
    EXPECT_EQ(RequestRandom(2147483647), 32767);  // a runtime whose maximum is larger
    EXPECT_EQ(RequestRandom(32768), 0);

    // Runs of one process (same time, ticks and process) and starts within the same second
    // (another process id, a few ticks later) all get their own seed, and the seeds differ in
    // the bits a 15-bit generator output depends on.
    std::set<uint32_t> seeds, outputs;
    for (uint32_t run = 0; run < 200; ++run) seeds.insert(RequestSeed(1700000000, 5000, 1234, run));
    for (uint32_t process = 1; process <= 200; ++process)
        seeds.insert(RequestSeed(1700000000, 5000 + process, 1234 + 4 * process, 0));
    EXPECT_EQ(seeds.size(), 400u);
    for (uint32_t seed : seeds) outputs.insert((seed * 214013u + 2531011u) >> 16 & 0x7FFF);
    EXPECT_GT(outputs.size(), 390u);
}

TEST(DownloadOutcome, OnlyAWholeNonEmptyImageWithASuccessStatusCounts) {
    EXPECT_TRUE(DownloadComplete(4206649, 4206649, 200));
    EXPECT_TRUE(DownloadComplete(4206649, 0, 200));        // no length announced
    EXPECT_TRUE(DownloadComplete(4206649, 4206649, 0));    // no HTTP status reported
    EXPECT_FALSE(DownloadComplete(2103324, 4206649, 200));  // connection dropped halfway
    EXPECT_FALSE(DownloadComplete(0, 0, 200));
    EXPECT_FALSE(DownloadComplete(0, 100, 200));
    // Error pages arrive whole, with their own length.
    EXPECT_FALSE(DownloadComplete(36, 36, 404));
    EXPECT_FALSE(DownloadComplete(48, 48, 500));
    EXPECT_FALSE(DownloadComplete(48, 48, 302));
    EXPECT_FALSE(DownloadComplete(48, 48, 199));
    EXPECT_TRUE(DownloadComplete(48, 48, 299));
    // Lengths of 4 GiB and more are compared whole: a file cut short by exactly 4 GiB, or a
    // 32-bit report of the length, never passes for the image.
    EXPECT_TRUE(DownloadComplete(4294967301ull, 4294967301ull, 200));
    EXPECT_FALSE(DownloadComplete(5, 4294967301ull, 200));
    EXPECT_FALSE(DownloadComplete(4294967301ull, 5, 200));
}

TEST(DownloadOutcome, LengthFromTheHeadersAndReceivedCountsPastFourGibibytes) {
    EXPECT_EQ(ContentLengthOf("HTTP/1.1 200 OK\r\nContent-Type: x\r\nContent-Length: 6442450944\r\n"),
              6442450944ull);
    EXPECT_EQ(ContentLengthOf("HTTP/1.1 200 OK\r\ncontent-length:12\r\n"), 12u);
    EXPECT_EQ(ContentLengthOf("HTTP/1.1 200 OK\r\nX-Content-Length: 9\r\n"), 0u);
    EXPECT_EQ(ContentLengthOf("Content-Length: 99999999999999999999999\r\n"), 0u);
    EXPECT_EQ(ContentLengthOf(nullptr), 0u);

    // The reports' 32-bit count wraps; the count shown only grows.
    ReceivedCounter counter;
    EXPECT_EQ(counter.Advance(4000000000u), 4000000000ull);
    EXPECT_EQ(counter.Advance(100u), 4294967396ull);
    EXPECT_EQ(counter.Advance(200u), 4294967496ull);

    char line[kDownloadStatusSize];
    DownloadStatusLine(line, sizeof line, 4294967496ull, 6442450944ull, 1048576);
    EXPECT_STREQ(line, "4.00 GB of 6.00 GB Downloaded (1.00 MB/s)");
    ProgressStep step = DecideProgress(4294967496ull, 6442450944ull, false, 10, 0, 0);
    EXPECT_EQ(step.barPosition, 666);
}

TEST(DownloadProgress, TheDownloadsLastCountIsShownWhateverTheSecond) {
    // The last report of a 4 GiB + 1,234,567-byte download within the second shown last.
    ProgressStep step = DecideProgress(4296201863ull, 4296201863ull, false, 1062, 1000, 62, true);
    EXPECT_TRUE(step.show);
    EXPECT_EQ(step.barPosition, 1000);
    EXPECT_FALSE(DecideProgress(4296201863ull, 4296201863ull, false, 1062, 1000, 62).show);
    // Still nothing without a length.
    EXPECT_FALSE(DecideProgress(5000, 0, false, 1062, 1000, 62, true).show);
}

TEST(DownloadFiles, OneFilePerRunNamedByProcessAndRun) {
    char name[64];
    ASSERT_TRUE(DownloadFileName(name, sizeof name, 4242, 3));
    EXPECT_STREQ(name, "HalcyraDownload-4242-3.tmp");
    ASSERT_TRUE(DownloadFileName(name, sizeof name, 4294967295u, 4294967295u));
    EXPECT_FALSE(DownloadFileName(name, 10, 1, 1));
    EXPECT_STREQ(name, "");

    uint32_t process = 0;
    EXPECT_TRUE(DownloadFileProcess("HalcyraDownload-4242-3.tmp", &process));
    EXPECT_EQ(process, 4242u);
    EXPECT_TRUE(DownloadFileProcess("HalcyraDownload-4294967295-1.TMP", &process));
    EXPECT_EQ(process, 4294967295u);
    for (const char* other : {"HalcyraImage.bin", "HalcyraDownload-4242-3.tmp.bak",
                              "HalcyraDownload--3.tmp", "HalcyraDownload-4242.tmp",
                              "HalcyraDownload-4294967296-1.tmp", "HalcyraDownload-12-x.tmp",
                              "HalcyraDownload-1-2.tm"})
        EXPECT_FALSE(DownloadFileProcess(other, &process)) << other;
}
