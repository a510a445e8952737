// The writer's control flow against scripted volumes, disks, image file and user.
#include "create/image_writer_core.h"
#include "create/write_plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int64_t kTwoGiB = 2147483648LL;

struct FakeDevice {
    std::string path;
    bool isDisk = false;
    int lockAttempts = 0;
    bool locked = false;
    int unlocks = 0;
    int dismounts = 0;
    int closes = 0;
};

struct Box {
    std::string text;
    std::string caption;
    unsigned style;
};

struct DiskWrite {
    int64_t offset;
    uint32_t length;
    uint64_t stamp;  // first 8 bytes written
};

// One scripted run: what the devices and the user do, and what the writer did to them.
struct Fake {
    // Script.
    std::map<std::string, int> openFailures;  // path -> opens that fail before one succeeds
    std::map<std::string, int> lockFailures;  // path -> locks refused before one succeeds
    bool dismountWorks = true;
    bool queryWorks = true;
    DiskId disk{7, 3};
    std::string otherLetters;
    bool diskOpens = true;
    uint32_t sectorSize = 0;
    bool imageOpens = true;
    int64_t imageSize = 0;
    bool virtualImage = false;  // reads stamp each chunk with its offset instead of real bytes
    std::vector<uint8_t> image;
    int64_t readableBytes = -1;  // the image shrinks to this many bytes
    int failingDiskWrite = -1;   // index of the disk write that fails
    bool allocWorks = true;
    std::deque<int> answers;     // Yes/No for the retry prompts; OK otherwise
    std::function<void(Fake&, const Box&)> onAsk;
    std::function<void(Fake&, const std::string&)> onStatus;

    // Record.
    std::deque<FakeDevice> devices;
    std::vector<std::string> events;
    std::vector<Box> boxes;
    std::vector<std::string> statuses;
    std::vector<int> bars;
    int barLow = -1, barHigh = -1;
    std::vector<bool> pageCloses;
    std::vector<int32_t> states;
    std::vector<DiskWrite> diskWrites;
    std::vector<uint8_t> diskBytes;
    std::vector<uint8_t> volumeBytes = std::vector<uint8_t>(3 * kChunkSize, 0xAA);
    int volumeWrites = 0;
    int imageOpenCount = 0, imageCloseCount = 0;
    int64_t readPosition = 0;
    int allocCount = 0, freeCount = 0;
    std::vector<unsigned char> bufferStore;
    unsigned alignment = 0;
    bool bufferAligned = false;
    int pauses = 0;
    int linesShown = 0;
    std::atomic<uint8_t> cancel{0}, download{1}, write{0};

    void SetImage(int64_t size) {
        imageSize = size;
        image.resize(static_cast<size_t>(size));
        for (int64_t i = 0; i < size; ++i)
            image[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + i / 65536 * 13 + 1);
    }

    int CountEvents(const std::string& prefix) const {
        int n = 0;
        for (const std::string& e : events) n += e.rfind(prefix, 0) == 0;
        return n;
    }
};

Fake& F(void* context) { return *static_cast<Fake*>(context); }
FakeDevice& D(DeviceHandle device) { return *static_cast<FakeDevice*>(device); }

DeviceHandle OpenDevice(Fake& f, const char* path, bool isDisk) {
    f.events.push_back(std::string("open ") + path);
    int& failures = f.openFailures[path];
    if (failures > 0) {
        --failures;
        return nullptr;
    }
    if (isDisk && !f.diskOpens) return nullptr;
    f.devices.push_back(FakeDevice{});
    f.devices.back().path = path;
    f.devices.back().isDisk = isDisk;
    return &f.devices.back();
}

DeviceHandle OpenVolume(void* c, const char* path) { return OpenDevice(F(c), path, false); }
DeviceHandle OpenDisk(void* c, const char* path) { return OpenDevice(F(c), path, true); }

bool LockVolume(void* c, DeviceHandle h) {
    FakeDevice& d = D(h);
    F(c).events.push_back("lock " + d.path);
    ++d.lockAttempts;
    int& failures = F(c).lockFailures[d.path];
    if (failures > 0) {
        --failures;
        return false;
    }
    d.locked = true;
    return true;
}

bool DismountVolume(void* c, DeviceHandle h) {
    F(c).events.push_back("dismount " + D(h).path);
    ++D(h).dismounts;
    return F(c).dismountWorks;
}

void UnlockVolume(void* c, DeviceHandle h) {
    F(c).events.push_back("unlock " + D(h).path);
    ++D(h).unlocks;
}

void CloseDevice(void* c, DeviceHandle h) {
    F(c).events.push_back("close " + D(h).path);
    ++D(h).closes;
}

bool QueryDisk(void* c, DeviceHandle, DiskId* disk) {
    F(c).events.push_back("query");
    if (!F(c).queryWorks) return false;
    *disk = F(c).disk;
    return true;
}

int OtherVolumes(void* c, DiskId disk, char exclude, char* letters) {
    Fake& f = F(c);
    EXPECT_EQ(disk.deviceNumber, f.disk.deviceNumber);
    EXPECT_EQ(disk.deviceType, f.disk.deviceType);
    int n = 0;
    for (char letter : f.otherLetters)
        if (letter != exclude) letters[n++] = letter;
    return n;
}

uint32_t SectorSize(void* c, DeviceHandle) { return F(c).sectorSize; }

bool WriteAt(void* c, DeviceHandle h, int64_t offset, const void* data, uint32_t length) {
    Fake& f = F(c);
    if (!h) {
        f.events.push_back("write to nothing");
        return false;
    }
    FakeDevice& d = D(h);
    f.events.push_back("write " + d.path + " @" + std::to_string(offset));
    if (!d.isDisk) {
        ++f.volumeWrites;
        size_t end = static_cast<size_t>(offset) + length;
        if (f.volumeBytes.size() < end) f.volumeBytes.resize(end);
        std::memcpy(f.volumeBytes.data() + offset, data, length);
        return true;
    }
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 512, 0u) << "unaligned buffer";
    EXPECT_EQ(length % (f.sectorSize ? f.sectorSize : 512), 0u) << "length not whole sectors";
    int index = static_cast<int>(f.diskWrites.size());
    uint64_t stamp = 0;
    std::memcpy(&stamp, data, sizeof stamp);
    f.diskWrites.push_back(DiskWrite{offset, length, stamp});
    if (index == f.failingDiskWrite) return false;
    if (!f.virtualImage) {
        size_t end = static_cast<size_t>(offset) + length;
        if (f.diskBytes.size() < end) f.diskBytes.resize(end, 0xEE);
        std::memcpy(f.diskBytes.data() + offset, data, length);
    }
    return true;
}

ImageHandle OpenImage(void* c, const char* path) {
    Fake& f = F(c);
    f.events.push_back(std::string("open image ") + path);
    if (!f.imageOpens) return nullptr;
    ++f.imageOpenCount;
    return &f.image;
}

int64_t ImageSize(void* c, ImageHandle) {
    F(c).readPosition = 0;
    return F(c).imageSize;
}

uint32_t ReadImage(void* c, ImageHandle, void* data, uint32_t length) {
    Fake& f = F(c);
    f.events.push_back("read @" + std::to_string(f.readPosition));
    int64_t end = f.readableBytes >= 0 ? f.readableBytes : f.imageSize;
    int64_t available = end - f.readPosition;
    uint32_t got = available < length ? static_cast<uint32_t>(available > 0 ? available : 0) : length;
    if (f.virtualImage) {
        uint64_t stamp = static_cast<uint64_t>(f.readPosition) | 1;
        if (got >= sizeof stamp) std::memcpy(data, &stamp, sizeof stamp);
    } else {
        std::memcpy(data, f.image.data() + f.readPosition, got);
    }
    f.readPosition += got;
    return got;
}

void CloseImage(void* c, ImageHandle) {
    F(c).events.push_back("close image");
    ++F(c).imageCloseCount;
}

void* AllocBuffer(void* c, uint32_t size, uint32_t alignment) {
    Fake& f = F(c);
    f.events.push_back("alloc");
    if (!f.allocWorks) return nullptr;
    ++f.allocCount;
    f.alignment = alignment;
    f.bufferStore.assign(size + alignment, 0);
    uintptr_t raw = reinterpret_cast<uintptr_t>(f.bufferStore.data());
    uintptr_t aligned = (raw + alignment - 1) / alignment * alignment;
    return reinterpret_cast<void*>(aligned);
}

void FreeBuffer(void* c, void*) {
    F(c).events.push_back("free");
    ++F(c).freeCount;
}

int Ask(void* c, const char* text, const char* caption, unsigned style) {
    Fake& f = F(c);
    Box box{text, caption, style};
    f.boxes.push_back(box);
    f.events.push_back(std::string("ask ") + caption);
    if (f.onAsk) f.onAsk(f, box);
    if ((style & 0xF) != kBoxYesNo) return kAnswerOk;
    if (f.answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text;
        return kAnswerNo;
    }
    int answer = f.answers.front();
    f.answers.pop_front();
    return answer;
}

void SetStatus(void* c, const char* text) {
    F(c).statuses.push_back(text);
    if (F(c).onStatus) F(c).onStatus(F(c), text);
}
void SetBarRange(void* c, int low, int high) {
    F(c).barLow = low;
    F(c).barHigh = high;
}
void SetBarPos(void* c, int position) { F(c).bars.push_back(position); }
void SetWizardState(void* c, int32_t state) { F(c).states.push_back(state); }
void ClosePage(void* c, bool wait) {
    Fake& f = F(c);
    // The page closes without asking only when both activity flags are already clear.
    EXPECT_EQ(f.write.load(), 0);
    EXPECT_EQ(f.download.load(), 0);
    f.pageCloses.push_back(wait);
}
void Pause(void* c, unsigned ms) {
    EXPECT_EQ(ms, 1000u);
    ++F(c).pauses;
}

std::string Sized(const char* format, char letter) {
    char text[512];
    std::snprintf(text, sizeof text, format, letter);
    return text;
}

class ImageWriterTest : public ::testing::Test {
protected:
    Fake f;
    WriterEnding ending = WriterEnding::Success;
    bool result = false;

    WriterOps Ops() {
        return WriterOps{&f,           OpenVolume,     LockVolume,   DismountVolume, UnlockVolume,
                         CloseDevice,  QueryDisk,      OtherVolumes, OpenDisk,       SectorSize,
                         WriteAt,      OpenImage,      ImageSize,    ReadImage,      CloseImage,
                         AllocBuffer,  FreeBuffer,     Ask,          SetStatus,      SetBarRange,
                         SetBarPos,    SetWizardState, ClosePage,    Pause};
    }

    bool Run(char letter = 'E') { return Run(Ops(), letter); }

    bool Run(const WriterOps& ops, char letter = 'E') {
        WriterShared shared{letter, "C:\\temp\\halcyra.bin", &f.cancel, &f.download, &f.write};
        result = RunImageWriter(ops, shared, &ending);
        return result;
    }

    // A fresh script for the next case of a group, after checking the last one's releases.
    void Reset() {
        CheckReleased();
        f.~Fake();
        new (&f) Fake();
    }

    // Every path releases each handle, the image file and the buffer exactly once, and ends
    // with both activity flags clear.
    void TearDown() override { CheckReleased(); }

    void CheckReleased() {
        for (const FakeDevice& d : f.devices) {
            EXPECT_EQ(d.closes, 1) << d.path;
            if (d.isDisk || d.locked) EXPECT_EQ(d.unlocks, 1) << d.path;
            else EXPECT_EQ(d.unlocks, 0) << d.path;
        }
        EXPECT_EQ(f.imageCloseCount, f.imageOpenCount);
        EXPECT_EQ(f.freeCount, f.allocCount);
        EXPECT_EQ(f.write.load(), 0);
        EXPECT_EQ(f.download.load(), 0);
        EXPECT_TRUE(f.answers.empty()) << "unused answers";
    }

    std::vector<std::string> Captions() const {
        std::vector<std::string> captions;
        for (const Box& b : f.boxes) captions.push_back(b.caption);
        return captions;
    }

    void ExpectPageClosedWithStop(bool waited) {
        ASSERT_EQ(f.pageCloses.size(), 1u);
        EXPECT_EQ(f.pageCloses[0], waited);
        ASSERT_EQ(f.states.size(), 1u);
        EXPECT_EQ(f.states[0], 2);
    }

    void ExpectNoDiskByteWritten() const {
        EXPECT_TRUE(f.diskWrites.empty());
        for (const std::string& e : f.events) EXPECT_EQ(e.find("PHYSICALDRIVE"), std::string::npos) << e;
    }
};

// --- Chunk plan and progress figures -------------------------------------------------------

TEST(WritePlan, ImageOfWholeChunksAndARemainder) {
    const int64_t k = 5, r = 1000;
    ChunkPlan plan = MakeChunkPlan(65536 * k + r, 0);
    ASSERT_EQ(plan.chunkCount, k + 1);
    EXPECT_EQ(plan.sectorSize, 512u);
    // Chunk 0 is held back to the end.
    std::vector<int64_t> order;
    for (int64_t step = 0; step < plan.chunkCount; ++step) order.push_back(ChunkAtStep(plan, step));
    EXPECT_EQ(order, (std::vector<int64_t>{1, 2, 3, 4, 5, 0}));
    for (int64_t c = 0; c < k; ++c) {
        EXPECT_EQ(ChunkLength(plan, c), 65536u);
        EXPECT_EQ(PaddedLength(plan, c), 65536u);
    }
    EXPECT_EQ(ChunkOffset(k), 65536 * k);
    EXPECT_EQ(ChunkLength(plan, k), 1000u);
    EXPECT_EQ(PaddedLength(plan, k), 1024u);
    EXPECT_EQ(PaddedLength(MakeChunkPlan(65536 * k + r, 4096), k), 4096u);
    EXPECT_EQ(PaddedLength(MakeChunkPlan(65536 + 512, 0), 1), 512u);
}

TEST(WritePlan, ExactlyOneChunkAndEmptyImages) {
    ChunkPlan one = MakeChunkPlan(65536, 512);
    EXPECT_EQ(one.chunkCount, 1);
    EXPECT_EQ(ChunkAtStep(one, 0), 0);
    EXPECT_EQ(ChunkLength(one, 0), 65536u);
    EXPECT_EQ(PaddedLength(one, 0), 65536u);
    ChunkPlan small = MakeChunkPlan(100, 512);
    EXPECT_EQ(small.chunkCount, 1);
    EXPECT_EQ(PaddedLength(small, 0), 512u);
    EXPECT_EQ(MakeChunkPlan(0, 512).chunkCount, 0);
    EXPECT_EQ(MakeChunkPlan(-5, 512).chunkCount, 0);
}

TEST(WritePlan, ImagesOfTwoGibibytesAndMoreAreCountedIn64Bits) {
    ChunkPlan plan = MakeChunkPlan(kTwoGiB + 1, 512);
    ASSERT_EQ(plan.chunkCount, 32769);
    EXPECT_EQ(ChunkAtStep(plan, 32767), 32768);
    EXPECT_EQ(ChunkAtStep(plan, 32768), 0);
    EXPECT_EQ(ChunkOffset(32768), kTwoGiB);
    EXPECT_EQ(ChunkLength(plan, 32768), 1u);
    EXPECT_EQ(PaddedLength(plan, 32768), 512u);
    EXPECT_EQ(ChunkLength(plan, 32767), 65536u);
    ChunkPlan big = MakeChunkPlan(5LL * kTwoGiB, 512);  // 10 GiB
    EXPECT_EQ(big.chunkCount, 163840);
}

TEST(WritePlan, SectorSizeIsTakenFromTheDiskWhenItIsUsable) {
    EXPECT_EQ(EffectiveSectorSize(0), 512u);
    EXPECT_EQ(EffectiveSectorSize(512), 512u);
    EXPECT_EQ(EffectiveSectorSize(4096), 4096u);
    EXPECT_EQ(EffectiveSectorSize(65536), 65536u);
    EXPECT_EQ(EffectiveSectorSize(256), 512u);
    EXPECT_EQ(EffectiveSectorSize(520), 512u);
    EXPECT_EQ(EffectiveSectorSize(131072), 512u);
}

TEST(WritePlan, BarTruncatesWhileTheTextRoundsHalvesUp) {
    // 99.6 %: the bar stands at 99, the text shows 100 %.
    EXPECT_EQ(BarPosition(996, 1000), 99);
    EXPECT_EQ(TextPercent(996, 1000), 100);
    // Exact ties (12.5 %, 0.5 %) round upward on every C runtime.
    EXPECT_EQ(TextPercent(1, 8), 13);
    EXPECT_EQ(TextPercent(1, 200), 1);
    EXPECT_EQ(BarPosition(1, 8), 12);
    EXPECT_EQ(BarPosition(kTwoGiB, kTwoGiB + 1), 99);
    EXPECT_EQ(BarPosition(kTwoGiB + 1, kTwoGiB + 1), 100);

    char line[kProgressLineCapacity];
    BuildWriteProgressLine(65536, 104857600, line);
    EXPECT_STREQ(line, "64.00 KB of 100.00 MB Written (0%)");
    BuildWriteProgressLine(65536, 65536, line);
    EXPECT_STREQ(line, "64.00 KB of 64.00 KB Written (100%)");
    BuildWriteProgressLine(kTwoGiB + 1, kTwoGiB + 1, line);
    EXPECT_STREQ(line, "2.00 GB of 2.00 GB Written (100%)");
}

// --- Success ---------------------------------------------------------------------------------

TEST_F(ImageWriterTest, WholeImageLandsFromOffsetZeroWithTheFirstChunkLast) {
    const int64_t size = 65536 * 3 + 1000;
    f.SetImage(size);
    EXPECT_TRUE(Run('E'));
    EXPECT_EQ(ending, WriterEnding::Success);

    // Byte for byte from offset 0; only the tail of the last sector is zero.
    ASSERT_EQ(f.diskBytes.size(), static_cast<size_t>(size + 24));
    EXPECT_TRUE(std::equal(f.image.begin(), f.image.end(), f.diskBytes.begin()));
    for (size_t i = static_cast<size_t>(size); i < f.diskBytes.size(); ++i) ASSERT_EQ(f.diskBytes[i], 0);

    // Disk writes: the first chunk zeroed, then chunks 1..3, then chunk 0.
    std::vector<int64_t> offsets;
    for (const DiskWrite& w : f.diskWrites) offsets.push_back(w.offset);
    EXPECT_EQ(offsets, (std::vector<int64_t>{0, 65536, 131072, 196608, 0}));
    EXPECT_EQ(f.diskWrites[0].stamp, 0u);
    EXPECT_EQ(f.diskWrites[3].length, 1024u);

    // The volume's first 64 KiB wiped, nothing else of it.
    for (uint32_t i = 0; i < kChunkSize; ++i) ASSERT_EQ(f.volumeBytes[i], 0);
    EXPECT_EQ(f.volumeBytes[kChunkSize], 0xAA);
    EXPECT_EQ(f.volumeWrites, 1);

    // Devices: the volume, then the disk the volume lies on.
    EXPECT_EQ(f.devices.size(), 2u);
    EXPECT_EQ(f.devices[0].path, "\\\\.\\E:");
    EXPECT_EQ(f.devices[0].lockAttempts, 2);
    EXPECT_EQ(f.devices[0].dismounts, 1);
    EXPECT_EQ(f.devices[1].path, "\\\\.\\PHYSICALDRIVE3");
    EXPECT_EQ(f.pauses, 1);
    EXPECT_EQ(f.alignment, 65536u);

    // Progress: range, start, one line and one bar position per chunk.
    EXPECT_EQ(f.barLow, 0);
    EXPECT_EQ(f.barHigh, 100);
    EXPECT_EQ(f.bars, (std::vector<int>{0, 33, 66, 100}));  // 66 is not sent twice
    ASSERT_EQ(f.statuses.size(), 5u);
    EXPECT_EQ(f.statuses[0], "Creating Halcyra USB Flash Drive...");
    EXPECT_EQ(f.statuses[1], "64.00 KB of 192.98 KB Written (33%)");
    EXPECT_EQ(f.statuses[4], "192.98 KB of 192.98 KB Written (100%)");

    ASSERT_EQ(f.boxes.size(), 1u);
    EXPECT_EQ(f.boxes[0].text, Sized(kSuccessFormat, 'E'));
    EXPECT_EQ(f.boxes[0].text.substr(0, 50), "Halcyra has been successfully written to drive E:.");
    EXPECT_EQ(f.boxes[0].caption, "Operation Complete");
    EXPECT_EQ(f.boxes[0].style, kBoxIconInformation);
    EXPECT_EQ(f.states, (std::vector<int32_t>{0}));
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));

    // Locks are released after the disk is closed and the last byte written.
    EXPECT_EQ(f.events.back(), "ask Operation Complete");
    auto at = [&](const std::string& e) { return std::find(f.events.begin(), f.events.end(), e) - f.events.begin(); };
    EXPECT_LT(at("write \\\\.\\E: @0"), at("open \\\\.\\PHYSICALDRIVE3"));
    EXPECT_LT(at("close \\\\.\\PHYSICALDRIVE3"), at("unlock \\\\.\\E:"));
}

TEST_F(ImageWriterTest, AnImageOfExactlyOneChunkShowsOneLineAtFullBar) {
    f.SetImage(65536);
    f.sectorSize = 4096;
    EXPECT_TRUE(Run());
    ASSERT_EQ(f.diskWrites.size(), 1u);  // no zeroing needed in front of a single chunk
    EXPECT_EQ(f.diskWrites[0].offset, 0);
    EXPECT_EQ(f.diskWrites[0].length, 65536u);
    EXPECT_EQ(f.statuses.back(), "64.00 KB of 64.00 KB Written (100%)");
    EXPECT_EQ(f.statuses.size(), 2u);
    EXPECT_EQ(f.bars.back(), 100);
}

TEST_F(ImageWriterTest, LastChunkIsPaddedToTheDisksSectorSize) {
    f.SetImage(65536 + 5000);
    f.sectorSize = 4096;
    EXPECT_TRUE(Run());
    ASSERT_EQ(f.diskWrites.size(), 3u);
    EXPECT_EQ(f.diskWrites[1].offset, 65536);
    EXPECT_EQ(f.diskWrites[1].length, 8192u);
    EXPECT_TRUE(std::equal(f.image.begin(), f.image.end(), f.diskBytes.begin()));
    for (size_t i = f.image.size(); i < f.diskBytes.size(); ++i) ASSERT_EQ(f.diskBytes[i], 0);
}

TEST_F(ImageWriterTest, ImagesOfMoreThanTwoGibibytesAreWrittenWhole) {
    f.virtualImage = true;
    f.imageSize = kTwoGiB + 1;
    EXPECT_TRUE(Run());
    ASSERT_EQ(f.diskWrites.size(), 32770u);  // the zeroed head, then 32,769 chunks
    const DiskWrite& tail = f.diskWrites[32768];
    EXPECT_EQ(tail.offset, kTwoGiB);
    EXPECT_EQ(tail.length, 512u);
    EXPECT_EQ(f.diskWrites.back().offset, 0);
    EXPECT_EQ(f.diskWrites.back().stamp, 1u);  // chunk 0's own bytes, read first
    for (size_t i = 1; i < 32768; ++i)
        ASSERT_EQ(f.diskWrites[i].stamp, static_cast<uint64_t>(f.diskWrites[i].offset) | 1) << i;
    EXPECT_EQ(f.readPosition, kTwoGiB + 1);
    EXPECT_EQ(f.statuses.back(), "2.00 GB of 2.00 GB Written (100%)");
    EXPECT_EQ(f.bars.back(), 100);
}

TEST_F(ImageWriterTest, OtherVolumesOfTheDiskAreLockedAndDismountedBeforeTheDiskIsWritten) {
    f.SetImage(70000);
    f.otherLetters = "FEG";
    f.dismountWorks = false;  // not fatal
    EXPECT_TRUE(Run('E'));
    ASSERT_EQ(f.devices.size(), 4u);
    EXPECT_EQ(f.devices[1].path, "\\\\.\\F:");
    EXPECT_EQ(f.devices[2].path, "\\\\.\\G:");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(f.devices[i].locked);
        EXPECT_EQ(f.devices[i].dismounts, 1);
    }
    EXPECT_EQ(f.pauses, 1);  // only the chosen volume waits before its lock
    EXPECT_EQ(f.volumeWrites, 1);  // only the chosen volume is wiped
    auto at = [&](const std::string& e) { return std::find(f.events.begin(), f.events.end(), e) - f.events.begin(); };
    EXPECT_LT(at("dismount \\\\.\\G:"), at("open \\\\.\\PHYSICALDRIVE3"));
}

// --- Entry and the open-and-lock loop --------------------------------------------------------

TEST_F(ImageWriterTest, CancelBeforeTheStartOpensNoDevice) {
    f.cancel = 1;
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::EarlyCancel);
    EXPECT_TRUE(f.devices.empty());
    EXPECT_EQ(f.CountEvents("open"), 0);
    ASSERT_EQ(f.boxes.size(), 1u);
    EXPECT_EQ(f.boxes[0].text, "The Halcyra creation process has been cancelled.");
    EXPECT_EQ(f.boxes[0].caption, "Cancelled");
    EXPECT_EQ(f.boxes[0].style, kBoxIconInformation);
    EXPECT_EQ(f.statuses.back(), "");
    EXPECT_TRUE(f.states.empty());  // the page's own cancel stored the result
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
}

TEST_F(ImageWriterTest, EachYesOpensTheVolumeAnew) {
    f.SetImage(1000);
    f.openFailures["\\\\.\\E:"] = 3;
    f.answers = {kAnswerYes, kAnswerYes, kAnswerYes};
    EXPECT_TRUE(Run());
    EXPECT_EQ(f.CountEvents("open \\\\.\\E:"), 4);
    ASSERT_EQ(f.boxes.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.boxes[i].text, "Unable to open the USB drive. Would you like to try again?");
        EXPECT_EQ(f.boxes[i].caption, "Write Error");
        EXPECT_EQ(f.boxes[i].style, kBoxIconWarning | kBoxYesNo);
    }
}

TEST_F(ImageWriterTest, CancelWhileTheOpenPromptIsUpEndsAtYesWithOneMessage) {
    f.SetImage(1000);
    f.openFailures["\\\\.\\E:"] = 1;
    f.answers = {kAnswerYes};
    f.onAsk = [](Fake& fake, const Box& box) {
        if (box.caption == "Write Error") fake.cancel = 1;
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::EarlyCancel);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Write Error", "Cancelled"}));
    EXPECT_EQ(f.CountEvents("open"), 1);
    EXPECT_EQ(f.statuses.back(), "");
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
    EXPECT_TRUE(f.states.empty());
}

TEST_F(ImageWriterTest, NoToTheOpenPromptLeavesThePageOpen) {
    f.openFailures["\\\\.\\E:"] = 1;
    f.answers = {kAnswerNo};
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::Declined);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Write Error", "Cancelled"}));
    EXPECT_EQ(f.boxes[1].text, "The Halcyra creation process has been cancelled.");
    EXPECT_TRUE(f.pageCloses.empty());
    EXPECT_TRUE(f.states.empty());
    EXPECT_EQ(f.statuses.back(), "Creating Halcyra USB Flash Drive...");
}

TEST_F(ImageWriterTest, NoWithACancelPendingClosesThePageAfterOneMessage) {
    f.openFailures["\\\\.\\E:"] = 1;
    f.answers = {kAnswerNo};
    f.onAsk = [](Fake& fake, const Box& box) {
        if (box.caption == "Write Error") fake.cancel = 1;
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::Declined);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Write Error", "Cancelled"}));
    EXPECT_EQ(f.statuses.back(), "");
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
    EXPECT_TRUE(f.states.empty());
}

TEST_F(ImageWriterTest, LockRefusedAndNoClosesTheVolumeAndLeavesThePageOpen) {
    f.lockFailures["\\\\.\\E:"] = 1;
    f.answers = {kAnswerNo};
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::Declined);
    ASSERT_EQ(f.boxes.size(), 2u);
    EXPECT_EQ(f.boxes[0].text,
              "USB Drive is in use - please ensure any files on this drive are closed. Would you "
              "like to try again?");
    EXPECT_EQ(f.boxes[0].caption, "Write Error");
    EXPECT_EQ(f.boxes[0].style, kBoxIconWarning | kBoxYesNo);
    EXPECT_EQ(f.boxes[1].caption, "Cancelled");
    // The volume was still open while the question was asked.
    auto at = [&](const std::string& e) { return std::find(f.events.begin(), f.events.end(), e) - f.events.begin(); };
    EXPECT_LT(at("ask Write Error"), at("close \\\\.\\E:"));
    EXPECT_TRUE(f.pageCloses.empty());
    EXPECT_TRUE(f.states.empty());
    EXPECT_EQ(f.CountEvents("write"), 0);
}

TEST_F(ImageWriterTest, LockRefusedThenYesReopensTheVolume) {
    f.SetImage(1000);
    f.lockFailures["\\\\.\\E:"] = 2;
    f.answers = {kAnswerYes, kAnswerYes};
    EXPECT_TRUE(Run());
    EXPECT_EQ(f.CountEvents("open \\\\.\\E:"), 3);
    EXPECT_EQ(f.pauses, 3);
}

TEST_F(ImageWriterTest, CancelWhileTheInUsePromptIsUpEndsAtYes) {
    f.lockFailures["\\\\.\\E:"] = 1;
    f.answers = {kAnswerYes};
    f.onAsk = [](Fake& fake, const Box& box) {
        if (box.caption == "Write Error") fake.cancel = 1;
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::EarlyCancel);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Write Error", "Cancelled"}));
    EXPECT_EQ(f.CountEvents("open"), 1);
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
}

TEST_F(ImageWriterTest, AnotherVolumeOfTheDiskInUseAsksLikeTheChosenOne) {
    f.SetImage(1000);
    f.otherLetters = "FG";
    f.lockFailures["\\\\.\\G:"] = 1;
    f.answers = {kAnswerYes};
    EXPECT_TRUE(Run());
    EXPECT_EQ(f.boxes[0].caption, "Write Error");
    EXPECT_EQ(f.boxes[0].text.substr(0, 19), "USB Drive is in use");
    EXPECT_EQ(f.CountEvents("open \\\\.\\E:"), 2);
    EXPECT_EQ(f.CountEvents("open \\\\.\\G:"), 2);
}

TEST_F(ImageWriterTest, AnotherVolumeThatCannotBeOpenedDeclinedReleasesAll) {
    f.otherLetters = "F";
    f.openFailures["\\\\.\\F:"] = 1;
    f.answers = {kAnswerNo};
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::Declined);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Write Error", "Cancelled"}));
    EXPECT_EQ(f.CountEvents("write"), 0);
    EXPECT_EQ(f.CountEvents("open image"), 0);
}

// --- Device number ---------------------------------------------------------------------------

TEST_F(ImageWriterTest, DiskZeroGetsNoByteAndTheVolumeNoWipe) {
    for (bool queryWorks : {true, false}) {
        SCOPED_TRACE(queryWorks ? "disk 0" : "query failed");
        if (!queryWorks) Reset();
        f.SetImage(200000);
        f.disk = DiskId{7, 0};
        f.queryWorks = queryWorks;
        EXPECT_FALSE(Run('E'));
        EXPECT_EQ(ending, WriterEnding::DiskNotFound);
        ExpectNoDiskByteWritten();
        EXPECT_EQ(f.CountEvents("write"), 0);
        EXPECT_EQ(f.CountEvents("open image"), 0);
        EXPECT_EQ(f.volumeBytes[0], 0xAA);
        ASSERT_EQ(f.boxes.size(), 1u);
        EXPECT_EQ(f.boxes[0].text, Sized(kDiskNotFoundFormat, 'E'));
        EXPECT_NE(f.boxes[0].text.find("nothing has been written"), std::string::npos);
        EXPECT_NE(f.boxes[0].text.find("drive E:"), std::string::npos);
        EXPECT_EQ(f.boxes[0].caption, "Drive Error");
        EXPECT_EQ(f.boxes[0].style, kBoxIconError);
        ExpectPageClosedWithStop(true);
        EXPECT_EQ(f.devices.size(), 1u);
        EXPECT_EQ(f.devices[0].closes, 1);
        EXPECT_EQ(f.devices[0].unlocks, 1);
    }
}

// --- Image file and buffer -------------------------------------------------------------------

TEST_F(ImageWriterTest, ImageThatCannotBeOpenedOrIsEmptyIsAnError) {
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        if (variant > 0) Reset();
        if (variant == 0) f.imageOpens = false;
        if (variant == 1) f.imageSize = 0;
        if (variant == 2) f.imageSize = -1;  // size unknown
        EXPECT_FALSE(Run());
        EXPECT_EQ(ending, WriterEnding::ImageError);
        ASSERT_EQ(f.boxes.size(), 1u);
        EXPECT_EQ(f.boxes[0].text, "Error openning downloaded image - process can not continue");
        EXPECT_EQ(f.boxes[0].caption, "File Error");
        EXPECT_EQ(f.boxes[0].style, kBoxIconError);
        EXPECT_TRUE(f.pageCloses.empty());
        EXPECT_TRUE(f.states.empty());
        EXPECT_EQ(f.CountEvents("write"), 0);
        EXPECT_EQ(f.CountEvents("alloc"), 0);
    }
}

TEST_F(ImageWriterTest, ImageErrorWithACancelPendingClosesThePage) {
    f.imageOpens = false;
    // The cancel arrives after the open-and-lock loop's last check.
    struct Hook {
        static bool Query(void* c, DeviceHandle volume, DiskId* disk) {
            F(c).cancel = 1;
            return QueryDisk(c, volume, disk);
        }
    };
    WriterOps ops = Ops();
    ops.queryDisk = Hook::Query;
    EXPECT_FALSE(Run(ops));
    EXPECT_EQ(ending, WriterEnding::ImageError);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"File Error", "Cancelled"}));
    EXPECT_EQ(f.statuses.back(), "");
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
    EXPECT_TRUE(f.states.empty());
}

TEST_F(ImageWriterTest, BufferThatCannotBeAllocatedEndsQuietly) {
    f.SetImage(1000);
    f.allocWorks = false;
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::NoBuffer);
    EXPECT_TRUE(f.boxes.empty());
    EXPECT_TRUE(f.pageCloses.empty());
    EXPECT_EQ(f.CountEvents("write"), 0);
    EXPECT_EQ(f.imageCloseCount, 1);
}

TEST_F(ImageWriterTest, BufferFailureWithACancelPendingIsTheEarlyCancel) {
    f.SetImage(1000);
    struct Hook {
        static void* Alloc(void* c, uint32_t, uint32_t) {
            F(c).cancel = 1;
            return nullptr;
        }
    };
    WriterOps ops = Ops();
    ops.allocBuffer = Hook::Alloc;
    EXPECT_FALSE(Run(ops));
    EXPECT_EQ(ending, WriterEnding::NoBuffer);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Cancelled"}));
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
    EXPECT_EQ(f.CountEvents("write"), 0);
    EXPECT_EQ(f.imageCloseCount, 1);
}

// --- Stopping during the write ---------------------------------------------------------------

TEST_F(ImageWriterTest, ImageThatShrinksStopsWithoutAMessageAndKeepsTheFirstChunkBack) {
    f.SetImage(65536 * 4);
    f.readableBytes = 65536 * 2 + 100;  // chunk 2 comes up short
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Cancelled"}));
    std::vector<int64_t> offsets;
    for (const DiskWrite& w : f.diskWrites) offsets.push_back(w.offset);
    EXPECT_EQ(offsets, (std::vector<int64_t>{0, 65536}));  // zeroed head, chunk 1
    for (uint32_t i = 0; i < kChunkSize; ++i) ASSERT_EQ(f.diskBytes[i], 0);
    EXPECT_EQ(f.statuses.back(), "The Halcyra creation process has been cancelled.");
    ExpectPageClosedWithStop(true);
}

TEST_F(ImageWriterTest, ImageShortFromTheStartWritesNothingToTheDisk) {
    f.SetImage(65536 * 2);
    f.readableBytes = 1000;
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_TRUE(f.diskWrites.empty());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Cancelled"}));
}

TEST_F(ImageWriterTest, WriteFailureShowsTheDriveErrorThenTheCancel) {
    f.SetImage(65536 * 3);
    f.failingDiskWrite = 2;  // chunk 2
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    ASSERT_EQ(f.boxes.size(), 2u);
    EXPECT_EQ(f.boxes[0].text, "An error occurred writing the Halcyra image to your USB Drive.");
    EXPECT_EQ(f.boxes[0].caption, "Drive Error");
    EXPECT_EQ(f.boxes[0].style, kBoxIconError);
    EXPECT_EQ(f.boxes[1].caption, "Cancelled");
    EXPECT_EQ(f.diskWrites.size(), 3u);  // nothing after the failed chunk, chunk 0 never
    EXPECT_EQ(f.CountEvents("read"), 3);
    ExpectPageClosedWithStop(true);
    EXPECT_EQ(f.cancel.load(), 1);
}

TEST_F(ImageWriterTest, WriteFailureWithACancelPendingShowsOnlyTheCancel) {
    f.SetImage(65536 * 3);
    f.failingDiskWrite = 1;
    // The user's cancel arrives while chunk 1 is being written (its progress line never comes).
    struct Hook {
        static bool Write(void* c, DeviceHandle h, int64_t offset, const void* data, uint32_t n) {
            if (offset == 65536) F(c).cancel = 1;
            return WriteAt(c, h, offset, data, n);
        }
    };
    WriterOps ops = Ops();
    ops.writeAt = Hook::Write;
    EXPECT_FALSE(Run(ops));
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Cancelled"}));
    ExpectPageClosedWithStop(true);
}

TEST_F(ImageWriterTest, DiskThatCannotBeOpenedFailsAtTheFirstWrite) {
    f.SetImage(65536 * 2);
    f.diskOpens = false;
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Drive Error", "Cancelled"}));
    EXPECT_EQ(f.CountEvents("write to nothing"), 1);
    EXPECT_EQ(f.CountEvents("read"), 1);
}

TEST_F(ImageWriterTest, CancelDuringTheWriteStopsAfterTheChunkInProgress) {
    f.SetImage(65536 * 6 + 10);
    // The page's Cancel, confirmed while the third progress line is shown.
    f.onStatus = [](Fake& fake, const std::string& text) {
        if (text.find("Written") != std::string::npos && ++fake.linesShown == 3) {
            fake.cancel = 1;
            fake.write = 0;
            fake.download = 0;
        }
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    std::vector<int64_t> offsets;
    for (const DiskWrite& w : f.diskWrites) offsets.push_back(w.offset);
    EXPECT_EQ(offsets, (std::vector<int64_t>{0, 65536, 131072, 196608}));
    EXPECT_EQ(f.CountEvents("read"), 4);  // chunk 0 and chunks 1..3; no further chunk read
    for (uint32_t i = 0; i < kChunkSize; ++i) ASSERT_EQ(f.diskBytes[i], 0);
    EXPECT_TRUE(std::equal(f.image.begin() + 65536, f.image.begin() + 4 * 65536,
                           f.diskBytes.begin() + 65536));
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Cancelled"}));
    EXPECT_EQ(f.statuses.back(), "The Halcyra creation process has been cancelled.");
    ExpectPageClosedWithStop(true);
}

TEST_F(ImageWriterTest, CancelAfterTheLastChunkStillEndsAsCancelled) {
    f.SetImage(65536 * 2);
    f.onStatus = [](Fake& fake, const std::string& text) {
        if (text.rfind("128.00 KB of", 0) == 0) fake.cancel = 1;
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_TRUE(std::equal(f.image.begin(), f.image.end(), f.diskBytes.begin()));
    ExpectPageClosedWithStop(true);
}

}  // namespace
