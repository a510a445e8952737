// The writer's control flow against scripted volumes, disks, image file and user.
#include "write/drive_fault.h"
#include "write/image_writer_core.h"
#include "write/write_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int64_t kTwoGiB = 2147483648LL;
const std::string kVolume = "\\\\.\\E:";
const std::string kDisk = "\\\\.\\PHYSICALDRIVE3";

struct FakeDevice {
    std::string path;
    bool isDisk;
    int lockAttempts = 0, unlocks = 0, dismounts = 0, closes = 0;
    bool locked = false;
};

struct Box {
    std::string text, caption;
    unsigned style;
};

struct DiskWrite {
    int64_t offset;
    uint32_t length;
    uint64_t stamp;  // the first 8 bytes written
};

// A stand-in for the SHA-256: FNV-1a over the bytes in the order they come, four lanes.
struct FakeHash {
    uint64_t lanes[4] = {1, 2, 3, 4};
    void Add(const uint8_t* data, size_t length) {
        for (size_t i = 0; i < length; ++i)
            for (uint64_t& lane : lanes) lane = (lane ^ data[i]) * 1099511628211ull;
    }
};
std::vector<uint8_t> Digest(const FakeHash& hash) {
    std::vector<uint8_t> digest(kImageDigestSize);
    std::memcpy(digest.data(), hash.lanes, kImageDigestSize);
    return digest;
}

// One scripted run: what the devices, the image and the user do, and what the writer did.
struct Fake {
    std::map<std::string, int> openFailures;  // path -> opens that fail before one works
    std::map<std::string, int> lockFailures;  // path -> locks refused before one works
    bool dismountWorks = true, queryWorks = true, imageOpens = true, allocWorks = true;
    DiskId disk{7, 3};
    std::string otherLetters;
    uint32_t sectorSize = 0;
    int64_t imageSize = 0;
    std::vector<uint8_t> image;
    bool virtualImage = false;   // reads only stamp each chunk with its offset
    int64_t readableBytes = -1;  // the image shrinks to this many bytes
    int failingDiskWrite = -1;   // index of the disk write that fails
    int failingDiskRead = -1;    // index of the disk read that fails
    // The codes the scripted failures report; a short write moves fewer bytes without one.
    uint32_t openError = 2, lockError = 5, writeError = 31, readError = 23;
    bool shortWrite = false;
    uint32_t lastError = 0xDEAD;  // what the last failed call reported
    std::map<uint32_t, std::string> systemTexts;
    int64_t keptBytes = -1;      // a stick that keeps only this many bytes and wraps past them
    bool driveChanged = false;   // another drive has taken the letter
    bool diskChanged = false;    // the opened disk answers unlike the chosen one
    bool lengthKnown = false;    // the chosen disk's length, when its device answered it
    int64_t diskLength = 0;
    int refreshes = 0;
    std::vector<std::string> notes;  // the run log's lines
    uint32_t clock = 0;
    int diskReads = 0;
    std::map<int64_t, uint64_t> virtualStamps;  // what a virtual image left at each offset
    std::deque<int> answers;     // for the Yes/No questions; the others get OK
    std::function<void(Fake&, const Box&)> onAsk;
    std::function<void(Fake&, const std::string&)> onStatus;

    std::deque<FakeDevice> devices;
    std::vector<std::string> events, statuses;
    std::vector<Box> boxes;
    std::vector<int> bars;
    int barLow = -1, barHigh = -1, pauses = 0, linesShown = 0, volumeWrites = 0;
    std::vector<bool> pageCloses;  // true: sent and waited for
    std::vector<int32_t> states;
    std::vector<DiskWrite> diskWrites;
    std::vector<uint8_t> diskBytes;
    std::vector<uint8_t> volumeBytes = std::vector<uint8_t>(2 * kChunkSize, 0xAA);
    int allocCount = 0, freeCount = 0;
    int64_t readPosition = 0;
    std::vector<unsigned char> bufferStore;
    uint32_t alignment = 0;
    std::atomic<uint8_t> cancel{0}, download{1}, write{0};
    bool hashWorks = true;
    FakeHash hash;
    std::vector<uint8_t> expected;  // a kept image's recorded digest (empty: a download)

    void SetImage(int64_t size) {
        imageSize = size;
        image.resize(static_cast<size_t>(size));
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 65536 * 13 + 1);
    }
    int Count(const std::string& prefix) const {
        return static_cast<int>(std::count_if(events.begin(), events.end(),
                                              [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
    }
    long Index(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) - events.begin();
    }
    std::vector<int64_t> Offsets() const {
        std::vector<int64_t> offsets;
        for (const DiskWrite& w : diskWrites) offsets.push_back(w.offset);
        return offsets;
    }
    std::vector<std::string> Captions() const {
        std::vector<std::string> captions;
        for (const Box& b : boxes) captions.push_back(b.caption);
        return captions;
    }
};

Fake& F(void* context) { return *static_cast<Fake*>(context); }
FakeDevice& D(DeviceHandle device) { return *static_cast<FakeDevice*>(device); }

bool Scripted(std::map<std::string, int>& failures, const std::string& path) {
    int& left = failures[path];
    if (left == 0) return true;
    --left;
    return false;
}

// A call that fails with `error`.
bool Fails(void* c, uint32_t error) {
    F(c).lastError = error;
    return false;
}

DeviceHandle Open(void* c, const char* path, bool isDisk) {
    F(c).events.push_back(std::string("open ") + path);
    if (!Scripted(F(c).openFailures, path)) {
        Fails(c, F(c).openError);
        return nullptr;
    }
    F(c).devices.push_back(FakeDevice{path, isDisk});
    return &F(c).devices.back();
}
DeviceHandle OpenVolume(void* c, const char* path) { return Open(c, path, false); }
DeviceHandle OpenDisk(void* c, const char* path) { return Open(c, path, true); }

bool LockVolume(void* c, DeviceHandle h) {
    F(c).events.push_back("lock " + D(h).path);
    ++D(h).lockAttempts;
    if (!Scripted(F(c).lockFailures, D(h).path)) return Fails(c, F(c).lockError);
    return D(h).locked = true;
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
    if (F(c).queryWorks) *disk = F(c).disk;
    return F(c).queryWorks;
}

int OtherVolumes(void* c, DiskId disk, char exclude, char* letters) {
    EXPECT_EQ(disk.deviceNumber, F(c).disk.deviceNumber);
    EXPECT_EQ(disk.deviceType, F(c).disk.deviceType);
    int n = 0;
    for (char letter : F(c).otherLetters)
        if (letter != exclude) letters[n++] = letter;
    return n;
}

uint32_t SectorSize(void* c, DeviceHandle) { return F(c).sectorSize; }

void Store(std::vector<uint8_t>& bytes, int64_t offset, const void* data, uint32_t length) {
    size_t end = static_cast<size_t>(offset) + length;
    if (bytes.size() < end) bytes.resize(end, 0xEE);
    std::memcpy(bytes.data() + offset, data, length);
}

bool WriteAt(void* c, DeviceHandle h, int64_t offset, const void* data, uint32_t length) {
    Fake& f = F(c);
    if (!h) {
        f.events.push_back("write to nothing");
        return false;
    }
    f.events.push_back("write " + D(h).path + " @" + std::to_string(offset));
    if (!D(h).isDisk) {
        ++f.volumeWrites;
        Store(f.volumeBytes, offset, data, length);
        return true;
    }
    // What the system demands of unbuffered writes: aligned buffers, whole sectors.
    uint32_t sector = f.sectorSize ? f.sectorSize : 512;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % sector, 0u) << "unaligned buffer";
    EXPECT_EQ(length % sector, 0u) << "length not whole sectors";
    uint64_t stamp = 0;
    std::memcpy(&stamp, data, sizeof stamp);
    f.diskWrites.push_back(DiskWrite{offset, length, stamp});
    if (static_cast<int>(f.diskWrites.size()) - 1 == f.failingDiskWrite)
        return Fails(c, f.shortWrite ? kShortTransfer : f.writeError);
    if (f.virtualImage) {
        f.virtualStamps[offset] = stamp;
    } else {
        // A counterfeit stick stores every byte past its real size over its start.
        int64_t at = f.keptBytes > 0 ? offset % f.keptBytes : offset;
        Store(f.diskBytes, at, data, length);
    }
    return true;
}

bool ReadAt(void* c, DeviceHandle h, int64_t offset, void* data, uint32_t length) {
    Fake& f = F(c);
    f.events.push_back("read disk @" + std::to_string(offset));
    EXPECT_TRUE(h && D(h).isDisk);
    uint32_t sector = f.sectorSize ? f.sectorSize : 512;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % sector, 0u) << "unaligned buffer";
    EXPECT_EQ(length % sector, 0u) << "length not whole sectors";
    if (f.diskReads++ == f.failingDiskRead) return Fails(c, f.readError);
    std::memset(data, 0, length);
    if (f.virtualImage) {
        uint64_t stamp = f.virtualStamps[offset];
        std::memcpy(data, &stamp, sizeof stamp);
        return true;
    }
    int64_t at = f.keptBytes > 0 ? offset % f.keptBytes : offset;
    size_t available = f.diskBytes.size() > static_cast<size_t>(at) ? f.diskBytes.size() - at : 0;
    std::memcpy(data, f.diskBytes.data() + at, std::min<size_t>(available, length));
    return true;
}

bool DriveUnchanged(void* c) {
    F(c).events.push_back("check drive");
    return !F(c).driveChanged;
}
bool DiskUnchanged(void* c, DeviceHandle h) {
    F(c).events.push_back("check " + D(h).path);
    return !F(c).diskChanged;
}
void RefreshLayout(void* c, DeviceHandle h) {
    F(c).events.push_back("refresh " + D(h).path);
    ++F(c).refreshes;
}
uint32_t LastError(void* c) { return F(c).lastError; }
void ErrorText(void* c, uint32_t error, char* out, uint32_t size) {
    std::snprintf(out, size, "%s", F(c).systemTexts[error].c_str());
}

int64_t ImageSize(void* c, ImageHandle) { return F(c).imageSize; }

uint32_t ReadImage(void* c, ImageHandle, void* data, uint32_t length) {
    Fake& f = F(c);
    f.events.push_back("read @" + std::to_string(f.readPosition));
    int64_t left = (f.readableBytes >= 0 ? f.readableBytes : f.imageSize) - f.readPosition;
    uint32_t got = static_cast<uint32_t>(std::max<int64_t>(0, std::min<int64_t>(left, length)));
    uint64_t stamp = static_cast<uint64_t>(f.readPosition) | 1;
    if (!f.virtualImage) {
        std::memcpy(data, f.image.data() + f.readPosition, got);
    } else {
        std::memset(data, 0, got);
        if (got >= sizeof stamp) std::memcpy(data, &stamp, sizeof stamp);
    }
    f.readPosition += got;
    return got;
}
bool RewindImage(void* c, ImageHandle) {
    F(c).readPosition = 0;
    return true;
}

bool HashBegin(void* c) {
    F(c).events.push_back("hash begin");
    F(c).hash = FakeHash{};
    return F(c).hashWorks;
}
void HashAdd(void* c, const void* data, uint32_t length) {
    F(c).hash.Add(static_cast<const uint8_t*>(data), length);
}
bool HashEnd(void* c, uint8_t digest[kImageDigestSize]) {
    F(c).events.push_back("hash end");
    std::memcpy(digest, Digest(F(c).hash).data(), kImageDigestSize);
    return F(c).hashWorks;
}

void* AllocBuffer(void* c, uint32_t size, uint32_t alignment) {
    Fake& f = F(c);
    f.events.push_back("alloc");
    if (!f.allocWorks) return nullptr;
    ++f.allocCount;
    f.alignment = alignment;
    f.bufferStore.assign(size + alignment, 0);
    uintptr_t raw = reinterpret_cast<uintptr_t>(f.bufferStore.data());
    return reinterpret_cast<void*>((raw + alignment - 1) / alignment * alignment);
}
void FreeBuffer(void* c, void*) { ++F(c).freeCount; }

int Ask(void* c, const char* text, const char* caption, unsigned style) {
    Fake& f = F(c);
    f.boxes.push_back(Box{text, caption, style});
    f.events.push_back(std::string("ask ") + caption);
    if (f.onAsk) f.onAsk(f, f.boxes.back());
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
    F(c).bars.push_back(low);
}
void ShowProgress(void* c, const char* line, int bar) {
    SetStatus(c, line);
    F(c).bars.push_back(bar);
}
void SetWizardState(void* c, int32_t state) { F(c).states.push_back(state); }
void ClosePage(void* c, bool wait) {
    // The page closes without asking only when both activity flags are already clear.
    EXPECT_EQ(F(c).write.load(), 0);
    EXPECT_EQ(F(c).download.load(), 0);
    F(c).pageCloses.push_back(wait);
}
void Pause(void* c, unsigned ms) {
    EXPECT_EQ(ms, 1000u);
    ++F(c).pauses;
}
void Note(void* c, const char* text) { F(c).notes.push_back(text); }
uint32_t Milliseconds(void* c) { return F(c).clock += 250; }

// Sets the cancel while a question of the given caption is open.
std::function<void(Fake&, const Box&)> CancelDuring(const std::string& caption) {
    return [caption](Fake& f, const Box& box) {
        if (box.caption == caption) f.cancel = 1;
    };
}

class ImageWriterTest : public ::testing::Test {
protected:
    Fake f;
    WriterEnding ending = WriterEnding::Success;
    WriterImage image{};

    WriterOps Ops() {
        return WriterOps{&f,           OpenVolume,     LockVolume,     DismountVolume, UnlockVolume,
                         CloseDevice,  QueryDisk,      OtherVolumes,   OpenDisk,       SectorSize,
                         WriteAt,      ReadAt,         DriveUnchanged, DiskUnchanged,  RefreshLayout,
                         LastError,    ErrorText,      ImageSize,      ReadImage,      RewindImage,
                         HashBegin,    HashAdd,        HashEnd,        AllocBuffer,    FreeBuffer,
                         Ask,          SetStatus,      SetBarRange,    ShowProgress,   SetWizardState,
                         ClosePage,    Pause,          Note,           Milliseconds};
    }

    bool Run(const WriterOps& ops) {
        image = WriterImage{f.imageOpens ? &f.image : nullptr,
                            f.expected.empty() ? nullptr : f.expected.data(), false, {}};
        WriterShared shared{'E', &image, &f.cancel, &f.download, &f.write, f.lengthKnown,
                            f.diskLength};
        return RunImageWriter(ops, shared, &ending);
    }
    bool Run() { return Run(Ops()); }

    // A fresh script for the next case of a group, after checking the last one.
    void Reset() {
        CheckReleased();
        f.~Fake();
        new (&f) Fake();
    }

    void TearDown() override { CheckReleased(); }

    // Every path releases each handle, the image file and the buffer exactly once, and ends
    // with both activity flags clear. No handle is asked for a lock twice (a second lock of a
    // locked volume fails), and the disk handle for none.
    void CheckReleased() {
        for (const FakeDevice& d : f.devices) {
            EXPECT_EQ(d.closes, 1) << d.path;
            EXPECT_EQ(d.unlocks, d.locked ? 1 : 0) << d.path;
            EXPECT_EQ(d.lockAttempts, d.isDisk ? 0 : 1) << d.path;
        }
        EXPECT_EQ(f.freeCount, f.allocCount);
        EXPECT_EQ(f.write.load(), 0);
        EXPECT_EQ(f.download.load(), 0);
        EXPECT_TRUE(f.answers.empty()) << "unused answers";
    }

    // Every ending back to the drive selection page: WizardState 2 and WM_CLOSE sent, so that
    // the page loop reads the result after the page has gone.
    void ExpectClosedWithStop() {
        EXPECT_EQ(f.pageCloses, (std::vector<bool>{true}));
        EXPECT_EQ(f.states, (std::vector<int32_t>{2}));
    }
    // The early cancel: WM_CLOSE posted, WizardState as the page's cancel left it.
    void ExpectEarlyCancel() {
        EXPECT_EQ(ending, WriterEnding::EarlyCancel);
        EXPECT_EQ(f.statuses.back(), "");
        EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
        EXPECT_TRUE(f.states.empty());
    }
};

std::string WithLetter(const char* format) {
    char text[512];
    std::snprintf(text, sizeof text, format, 'E');
    return text;
}

// `text` with the cause of `error` below it, as the box shows it.
std::string WithCause(const char* text, uint32_t error, const char* systemText = "") {
    char out[kDriveFaultTextSize];
    DriveFaultText(out, sizeof out, text, error, systemText);
    return out;
}

// --- Chunk plan and progress figures -------------------------------------------------------

// The plan's steps as "w1 v1 w0 v0": write or verify, and the chunk.
std::string Steps(const ChunkPlan& plan) {
    std::string out;
    for (int64_t i = 0; i < StepCount(plan); ++i) {
        WriteStep step = StepAt(plan, i);
        out += (out.empty() ? "" : " ") + std::string(step.kind == StepKind::Write ? "w" : "v") +
               std::to_string(step.chunk);
    }
    return out;
}

TEST(WritePlan, ImageOfWholeChunksAndARemainder) {
    ChunkPlan plan = MakeChunkPlan(65536 * 5 + 1000, 0);
    ASSERT_EQ(plan.chunkCount, 6);
    EXPECT_EQ(plan.sectorSize, 512u);
    EXPECT_EQ(Steps(plan), "w1 w2 w3 w4 w5 v1 v2 v3 v4 v5 w0 v0");
    for (int64_t c = 0; c < 5; ++c) EXPECT_EQ(PaddedLength(plan, c), 65536u);
    EXPECT_EQ(ChunkOffset(5), 65536 * 5);
    EXPECT_EQ(ChunkLength(plan, 5), 1000u);
    EXPECT_EQ(PaddedLength(plan, 5), 1024u);
    EXPECT_EQ(PaddedLength(MakeChunkPlan(65536 * 5 + 1000, 4096), 5), 4096u);
    EXPECT_EQ(PaddedLength(MakeChunkPlan(65536 + 512, 0), 1), 512u);

    ChunkPlan one = MakeChunkPlan(65536, 512);
    EXPECT_EQ(one.chunkCount, 1);
    EXPECT_EQ(Steps(one), "w0 v0");
    EXPECT_EQ(Steps(MakeChunkPlan(65537, 512)), "w1 v1 w0 v0");
    EXPECT_EQ(PaddedLength(one, 0), 65536u);
    EXPECT_EQ(PaddedLength(MakeChunkPlan(100, 512), 0), 512u);
    EXPECT_EQ(MakeChunkPlan(0, 512).chunkCount, 0);
    EXPECT_EQ(MakeChunkPlan(-5, 512).chunkCount, 0);
}

TEST(WritePlan, ImagesOfTwoGibibytesAndMoreAreCountedIn64Bits) {
    ChunkPlan plan = MakeChunkPlan(kTwoGiB + 1, 512);
    ASSERT_EQ(plan.chunkCount, 32769);
    ASSERT_EQ(StepCount(plan), 65538);
    EXPECT_EQ(StepAt(plan, 32767).chunk, 32768);
    EXPECT_EQ(StepAt(plan, 32768).kind, StepKind::Verify);
    EXPECT_EQ(StepAt(plan, 32768).chunk, 1);
    EXPECT_EQ(StepAt(plan, 65535).chunk, 32768);
    EXPECT_EQ(StepAt(plan, 65536).kind, StepKind::Write);
    EXPECT_EQ(StepAt(plan, 65536).chunk, 0);
    EXPECT_EQ(ChunkOffset(32768), kTwoGiB);
    EXPECT_EQ(ChunkLength(plan, 32767), 65536u);
    EXPECT_EQ(ChunkLength(plan, 32768), 1u);
    EXPECT_EQ(PaddedLength(plan, 32768), 512u);
    EXPECT_EQ(MakeChunkPlan(5 * kTwoGiB, 512).chunkCount, 163840);
}

TEST(WritePlan, SectorSizeIsTakenFromTheDiskWhenItIsUsable) {
    EXPECT_EQ(EffectiveSectorSize(0), 512u);
    EXPECT_EQ(EffectiveSectorSize(4096), 4096u);
    EXPECT_EQ(EffectiveSectorSize(65536), 65536u);
    EXPECT_EQ(EffectiveSectorSize(256), 512u);
    EXPECT_EQ(EffectiveSectorSize(520), 512u);
    EXPECT_EQ(EffectiveSectorSize(131072), 512u);
}

TEST(WritePlan, BarTruncatesWhileTheTextRoundsHalvesUp) {
    EXPECT_EQ(BarPosition(996, 1000), 99);  // 99.6 %
    EXPECT_EQ(TextPercent(996, 1000), 100);
    EXPECT_EQ(BarPosition(1, 8), 12);  // exact ties round upward on every C runtime
    EXPECT_EQ(TextPercent(1, 8), 13);
    EXPECT_EQ(TextPercent(1, 200), 1);
    EXPECT_EQ(BarPosition(kTwoGiB, kTwoGiB + 1), 99);
    EXPECT_EQ(BarPosition(kTwoGiB + 1, kTwoGiB + 1), 100);

    char line[kProgressLineCapacity];
    BuildWriteProgressLine(65536, 104857600, line);
    EXPECT_STREQ(line, "64.00 KB of 100.00 MB Written (0%)");
    BuildWriteProgressLine(kTwoGiB + 1, kTwoGiB + 1, line);
    EXPECT_STREQ(line, "2.00 GB of 2.00 GB Written (100%)");
    BuildWriteProgressLine(65536, 104857600, line, kVerifiedWord, "about 1 h 20 min left");
    EXPECT_STREQ(line, "64.00 KB of 100.00 MB Verified (0%), about 1 h 20 min left");
}

// --- Writing ---------------------------------------------------------------------------------

TEST_F(ImageWriterTest, WholeImageLandsFromOffsetZeroWithTheFirstChunkLast) {
    const int64_t size = 65536 * 3 + 1000;
    f.SetImage(size);
    EXPECT_TRUE(Run());
    EXPECT_EQ(ending, WriterEnding::Success);

    // Byte for byte from offset 0; only the tail of the last sector is zero.
    ASSERT_EQ(f.diskBytes.size(), static_cast<size_t>(size + 24));
    EXPECT_TRUE(std::equal(f.image.begin(), f.image.end(), f.diskBytes.begin()));
    EXPECT_TRUE(std::all_of(f.diskBytes.begin() + size, f.diskBytes.end(), [](uint8_t b) { return b == 0; }));
    // The disk's first chunk zeroed, then chunks 1..3, then chunk 0.
    EXPECT_EQ(f.Offsets(), (std::vector<int64_t>{0, 65536, 131072, 196608, 0}));
    EXPECT_EQ(f.diskWrites[0].stamp, 0u);
    EXPECT_EQ(f.diskWrites[3].length, 1024u);
    // The volume's first 64 KiB wiped once the disk has been opened, found to be the chosen
    // one and has taken its first write, and nothing else of it.
    EXPECT_TRUE(std::all_of(f.volumeBytes.begin(), f.volumeBytes.begin() + kChunkSize, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(f.volumeBytes[kChunkSize], 0xAA);
    EXPECT_EQ(f.volumeWrites, 1);
    EXPECT_LT(f.Index("check " + kDisk), f.Index("write " + kDisk + " @0"));
    EXPECT_LT(f.Index("write " + kDisk + " @0"), f.Index("write " + kVolume + " @0"));
    EXPECT_LT(f.Index("write " + kVolume + " @0"), f.Index("write " + kDisk + " @65536"));

    ASSERT_EQ(f.devices.size(), 2u);  // the volume, then the disk it lies on
    EXPECT_EQ(f.devices[0].path, kVolume);
    EXPECT_EQ(f.devices[0].lockAttempts, 1);
    EXPECT_EQ(f.devices[0].dismounts, 1);
    EXPECT_EQ(f.devices[1].path, kDisk);
    EXPECT_EQ(f.pauses, 1);
    EXPECT_EQ(f.alignment, 65536u);

    EXPECT_EQ(f.barLow, 0);
    EXPECT_EQ(f.barHigh, 100);
    EXPECT_EQ(f.bars, (std::vector<int>{0, 33, 66, 66, 0, 33, 66, 66, 100}));
    EXPECT_EQ(f.statuses, (std::vector<std::string>{kCreatingText,
                                                    "64.00 KB of 192.98 KB Written (33%)",
                                                    "128.00 KB of 192.98 KB Written (66%)",
                                                    "128.98 KB of 192.98 KB Written (67%)",
                                                    kVerifyingText,
                                                    "64.00 KB of 192.98 KB Verified (33%)",
                                                    "128.00 KB of 192.98 KB Verified (66%)",
                                                    "128.98 KB of 192.98 KB Verified (67%)",
                                                    "192.98 KB of 192.98 KB Verified (100%)"}));
    // The order: every chunk but chunk 0, their read-back, then chunk 0 and its read-back,
    // all before any lock is released; then the system is told of the new layout.
    std::vector<std::string> diskSteps;
    for (const std::string& e : f.events)
        if (e.rfind("write " + kDisk, 0) == 0 || e.rfind("read disk", 0) == 0) diskSteps.push_back(e);
    const std::string w = "write " + kDisk + " @";
    EXPECT_EQ(diskSteps, (std::vector<std::string>{w + "0", w + "65536", w + "131072", w + "196608",
                                                   "read disk @65536", "read disk @131072",
                                                   "read disk @196608", w + "0", "read disk @0"}));
    EXPECT_LT(f.Index("read disk @0"), f.Index("refresh " + kDisk));
    EXPECT_LT(f.Index("refresh " + kDisk), f.Index("close " + kDisk));
    EXPECT_EQ(f.refreshes, 1);

    ASSERT_EQ(f.boxes.size(), 1u);
    EXPECT_EQ(f.boxes[0].text, WithLetter(kSuccessFormat));
    EXPECT_EQ(f.boxes[0].text.substr(0, 50), "Halcyra has been successfully written to drive E:.");
    EXPECT_EQ(f.boxes[0].caption, "Operation Complete");
    EXPECT_EQ(f.boxes[0].style, kBoxIconInformation);
    EXPECT_EQ(f.states, (std::vector<int32_t>{0}));
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
    // Every lock is released before the user is told.
    EXPECT_LT(f.Index("close " + kDisk), f.Index("unlock " + kVolume));
    EXPECT_EQ(f.events.back(), "ask Operation Complete");
    // The run log has each phase with its time, and the ending. The fake clock moves 250 ms
    // at each reading, and each progress line reads it for its time left.
    EXPECT_EQ(f.notes, (std::vector<std::string>{
                           "lock: 1 volume(s) of disk 3 locked in 250 ms",
                           "image: 197608 bytes",
                           "\\\\.\\PHYSICALDRIVE3 opened, sector size 0",
                           "the volume's first 64 KiB wiped",
                           "write: 132072 bytes in 1000 ms (128.98 KB/s)",
                           "read-back, with chunk 0 written last: 197608 bytes in 1250 ms (154.38 KB/s)",
                           "ending: success, the image is written and read back whole"}));
}

// The image's digest as the writer takes it, over the image in its own order.
std::vector<uint8_t> DigestOf(const std::vector<uint8_t>& image) {
    FakeHash hash;
    hash.Add(image.data(), image.size());
    return Digest(hash);
}

TEST_F(ImageWriterTest, TheImagesDigestIsTakenInTheWriteAndAKeptImageMustMatchItsRecord) {
    struct Row {
        const char* name;
        int64_t size;
        int expected;  // 0: a download (no record), 1: the record matches, 2: it differs
        bool hashWorks;
        bool succeeds;
    } rows[] = {
        {"a download: its digest for the record", 3 * 65536 + 1000, 0, true, true},
        {"a download where the system has no SHA-256", 3 * 65536 + 1000, 0, false, true},
        {"the kept image is the recorded one", 3 * 65536 + 1000, 1, true, true},
        {"the kept image was altered", 3 * 65536 + 1000, 2, true, false},
        {"one chunk, altered", 1000, 2, true, false},
        {"a kept image the system can't hash", 1000, 1, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (&row != rows) Reset();
        f.SetImage(row.size);
        f.hashWorks = row.hashWorks;
        if (row.expected) f.expected = DigestOf(f.image);
        if (row.expected == 2) f.expected[5] ^= 1;
        EXPECT_EQ(Run(), row.succeeds);
        // One read of the image for the write and its digest; the read-back reads it again.
        EXPECT_EQ(f.Count("hash begin"), 1);
        EXPECT_EQ(image.hashed, row.hashWorks);
        if (row.hashWorks) {
            EXPECT_EQ(std::vector<uint8_t>(image.sha256, image.sha256 + 32), DigestOf(f.image));
        }
        if (row.succeeds) {
            EXPECT_EQ(ending, WriterEnding::Success);
            EXPECT_TRUE(std::equal(f.image.begin(), f.image.end(), f.diskBytes.begin()));
            continue;
        }
        // Not the recorded image: the disk's first chunk stays zero, nothing is read back, and
        // the page is neither told nor closed: the run goes on with a download.
        EXPECT_EQ(ending, WriterEnding::ImageAltered);
        EXPECT_TRUE(std::all_of(f.diskBytes.begin(), f.diskBytes.begin() + std::min<int64_t>(row.size, 65536),
                                [](uint8_t b) { return b == 0; }));
        EXPECT_EQ(f.Count("read disk"), 0);
        EXPECT_TRUE(f.boxes.empty());
        EXPECT_TRUE(f.pageCloses.empty());
        EXPECT_TRUE(f.states.empty());
        f.write = 0;  // the run's worker clears it when it goes on
        f.download = 0;
    }
}

TEST_F(ImageWriterTest, ChunkSizesAndSectorPadding) {
    // Exactly one chunk: the zeroed head, then the chunk; one line at 100 %, the bar at 100.
    f.SetImage(65536);
    f.sectorSize = 4096;
    EXPECT_TRUE(Run());
    EXPECT_EQ(f.Offsets(), (std::vector<int64_t>{0, 0}));
    EXPECT_EQ(f.diskWrites[1].length, 65536u);
    EXPECT_EQ(f.statuses, (std::vector<std::string>{kCreatingText, kVerifyingText,
                                                    "64.00 KB of 64.00 KB Verified (100%)"}));
    EXPECT_EQ(f.bars, (std::vector<int>{0, 0, 100}));

    // A remainder is padded to the disk's own sector size.
    Reset();
    f.SetImage(65536 + 5000);
    f.sectorSize = 4096;
    EXPECT_TRUE(Run());
    ASSERT_EQ(f.diskWrites.size(), 3u);
    EXPECT_EQ(f.diskWrites[1].offset, 65536);
    EXPECT_EQ(f.diskWrites[1].length, 8192u);
    EXPECT_TRUE(std::equal(f.image.begin(), f.image.end(), f.diskBytes.begin()));
    EXPECT_TRUE(std::all_of(f.diskBytes.begin() + 70536, f.diskBytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(ImageWriterTest, ImagesOfMoreThanTwoGibibytesAreWrittenWhole) {
    f.virtualImage = true;
    f.imageSize = kTwoGiB + 1;
    EXPECT_TRUE(Run());
    ASSERT_EQ(f.diskWrites.size(), 32770u);  // the zeroed head, then 32,769 chunks
    EXPECT_EQ(f.diskWrites[32768].offset, kTwoGiB);
    EXPECT_EQ(f.diskWrites[32768].length, 512u);
    EXPECT_EQ(f.diskWrites.back().offset, 0);
    EXPECT_EQ(f.diskWrites.back().stamp, 1u);  // chunk 0's own bytes, read first
    for (size_t i = 1; i < 32768; ++i)
        ASSERT_EQ(f.diskWrites[i].stamp, static_cast<uint64_t>(f.diskWrites[i].offset) | 1) << i;
    EXPECT_EQ(f.readPosition, kTwoGiB + 1);
    EXPECT_EQ(f.diskReads, 32769);
    EXPECT_EQ(f.statuses.back(), "2.00 GB of 2.00 GB Verified (100%)");
    EXPECT_EQ(f.bars.back(), 100);
}

TEST_F(ImageWriterTest, OtherVolumesOfTheDiskAreLockedAndDismountedFirst) {
    f.SetImage(70000);
    f.otherLetters = "FEG";
    f.dismountWorks = false;  // not fatal
    EXPECT_TRUE(Run());
    ASSERT_EQ(f.devices.size(), 4u);
    EXPECT_EQ(f.devices[1].path, "\\\\.\\F:");
    EXPECT_EQ(f.devices[2].path, "\\\\.\\G:");
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(f.devices[i].locked);
        EXPECT_EQ(f.devices[i].dismounts, 1);
    }
    EXPECT_EQ(f.pauses, 1);        // only the chosen volume waits before its lock
    EXPECT_EQ(f.volumeWrites, 1);  // and only it is wiped
    EXPECT_LT(f.Index("dismount \\\\.\\G:"), f.Index("open " + kDisk));
}

// --- Entry and the open-and-lock loop --------------------------------------------------------

TEST_F(ImageWriterTest, CancelBeforeTheStartOpensNoDevice) {
    f.cancel = 1;
    EXPECT_FALSE(Run());
    ExpectEarlyCancel();
    EXPECT_EQ(f.Count("open"), 0);
    ASSERT_EQ(f.boxes.size(), 1u);
    EXPECT_EQ(f.boxes[0].text, "The Halcyra creation process has been cancelled.");
    EXPECT_EQ(f.boxes[0].caption, "Cancelled");
    EXPECT_EQ(f.boxes[0].style, kBoxIconInformation);
}

TEST_F(ImageWriterTest, EachYesOpensTheVolumeAnew) {
    f.SetImage(1000);
    f.openFailures[kVolume] = 2;
    f.lockFailures[kVolume] = 1;
    f.answers = {kAnswerYes, kAnswerYes, kAnswerYes};
    EXPECT_TRUE(Run());
    EXPECT_EQ(f.Count("open " + kVolume), 4);
    EXPECT_EQ(f.pauses, 2);  // before each lock
    ASSERT_EQ(f.boxes.size(), 4u);
    // Each question with the cause of the call that failed: the open's, then the lock's.
    EXPECT_EQ(f.boxes[0].text,
              WithCause("Unable to open the USB drive. Would you like to try again?", f.openError));
    EXPECT_EQ(f.boxes[0].caption, "Write Error");
    EXPECT_EQ(f.boxes[0].style, kBoxIconWarning | kBoxYesNo);
    EXPECT_EQ(f.boxes[2].text,
              WithCause("USB Drive is in use - please ensure any files on this drive are closed. "
                        "Would you like to try again?", f.lockError));
    EXPECT_EQ(f.boxes[2].caption, "Write Error");
    EXPECT_EQ(f.boxes[2].style, kBoxIconWarning | kBoxYesNo);
}

TEST_F(ImageWriterTest, CancelWhileARetryPromptIsOpenEndsAtYesWithOneMessage) {
    for (bool lockPrompt : {false, true}) {
        SCOPED_TRACE(lockPrompt ? "in use" : "can't open");
        if (lockPrompt) Reset();
        (lockPrompt ? f.lockFailures : f.openFailures)[kVolume] = 1;
        f.answers = {kAnswerYes};
        f.onAsk = CancelDuring("Write Error");
        EXPECT_FALSE(Run());
        ExpectEarlyCancel();
        EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Write Error", "Cancelled"}));
        EXPECT_EQ(f.Count("open"), 1);
        EXPECT_EQ(f.Count("write"), 0);
    }
}

TEST_F(ImageWriterTest, NoToARetryPromptReturnsToTheDrivePage) {
    for (bool lockPrompt : {false, true}) {
        SCOPED_TRACE(lockPrompt ? "in use" : "can't open");
        if (lockPrompt) Reset();
        (lockPrompt ? f.lockFailures : f.openFailures)[kVolume] = 1;
        f.answers = {kAnswerNo};
        EXPECT_FALSE(Run());
        EXPECT_EQ(ending, WriterEnding::Declined);
        EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Write Error", "Cancelled"}));
        EXPECT_EQ(f.boxes[1].text, kCancelledText);
        ExpectClosedWithStop();
        EXPECT_EQ(f.Count("write"), 0);
    }
    // The refused volume was still open while the question was asked.
    EXPECT_LT(f.Index("ask Write Error"), f.Index("close " + kVolume));
}

TEST_F(ImageWriterTest, NoWithACancelPendingClosesThePageAfterOneMessage) {
    f.openFailures[kVolume] = 1;
    f.answers = {kAnswerNo};
    f.onAsk = CancelDuring("Write Error");
    EXPECT_FALSE(Run());
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Write Error", "Cancelled"}));
    EXPECT_EQ(f.statuses.back(), "");
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
    EXPECT_TRUE(f.states.empty());
}

TEST_F(ImageWriterTest, AnotherVolumeOfTheDiskInUseAsksLikeTheChosenOne) {
    f.SetImage(1000);
    f.otherLetters = "FG";
    f.lockFailures["\\\\.\\G:"] = 1;
    f.openFailures["\\\\.\\F:"] = 1;
    f.answers = {kAnswerYes, kAnswerYes};
    EXPECT_TRUE(Run());
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Write Error", "Write Error", "Operation Complete"}));
    EXPECT_EQ(f.boxes[0].text.substr(0, 19), "USB Drive is in use");
    EXPECT_EQ(f.Count("open " + kVolume), 3);
    EXPECT_EQ(f.Count("open \\\\.\\G:"), 2);

    Reset();
    f.otherLetters = "F";
    f.lockFailures["\\\\.\\F:"] = 1;
    f.answers = {kAnswerNo};
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::Declined);
    EXPECT_EQ(f.Count("write"), 0);
    EXPECT_EQ(f.Count("read @"), 0);
}

// --- Device number ---------------------------------------------------------------------------

TEST_F(ImageWriterTest, DiskZeroOrAnUnknownDiskGetsNothingWrittenAnywhere) {
    for (bool queryWorks : {true, false}) {
        SCOPED_TRACE(queryWorks ? "disk 0" : "query failed");
        if (!queryWorks) Reset();
        f.SetImage(200000);
        f.disk = DiskId{7, 0};
        f.queryWorks = queryWorks;
        EXPECT_FALSE(Run());
        EXPECT_EQ(ending, WriterEnding::DiskNotFound);
        EXPECT_EQ(f.Count("write"), 0);  // no image byte, and no wipe either
        EXPECT_EQ(f.Count("open \\\\.\\PHYSICALDRIVE"), 0);
        EXPECT_EQ(f.Count("read @"), 0);
        ASSERT_EQ(f.boxes.size(), 1u);
        EXPECT_EQ(f.boxes[0].text, WithLetter(kDiskNotFoundFormat));
        EXPECT_NE(f.boxes[0].text.find("nothing has been written"), std::string::npos);
        EXPECT_EQ(f.boxes[0].caption, "Drive Error");
        EXPECT_EQ(f.boxes[0].style, kBoxIconError);
        ExpectClosedWithStop();
    }
}

// --- Image file and buffer -------------------------------------------------------------------

TEST_F(ImageWriterTest, ImageThatCannotBeOpenedOrIsEmptyIsAnError) {
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        if (variant > 0) Reset();
        f.imageOpens = variant != 0;
        f.imageSize = variant == 1 ? 0 : -1;  // empty; size unknown
        EXPECT_FALSE(Run());
        EXPECT_EQ(ending, WriterEnding::ImageError);
        ASSERT_EQ(f.boxes.size(), 1u);
        EXPECT_EQ(f.boxes[0].text, "Error openning downloaded image - process can not continue");
        EXPECT_EQ(f.boxes[0].caption, "File Error");
        EXPECT_EQ(f.boxes[0].style, kBoxIconError);
        ExpectClosedWithStop();
        EXPECT_EQ(f.Count("write"), 0);
        EXPECT_EQ(f.Count("alloc"), 0);
    }
}

TEST_F(ImageWriterTest, ImageErrorWithACancelPendingClosesThePage) {
    f.imageOpens = false;
    struct Hook {  // the cancel arrives after the open-and-lock loop's last check
        static bool Query(void* c, DeviceHandle volume, DiskId* disk) {
            F(c).cancel = 1;
            return QueryDisk(c, volume, disk);
        }
    };
    WriterOps ops = Ops();
    ops.queryDisk = Hook::Query;
    EXPECT_FALSE(Run(ops));
    EXPECT_EQ(ending, WriterEnding::ImageError);
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"File Error", "Cancelled"}));
    EXPECT_EQ(f.statuses.back(), "");
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
}

TEST_F(ImageWriterTest, BufferThatCannotBeAllocatedEndsAsCancelled) {
    f.SetImage(1000);
    f.allocWorks = false;
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::NoBuffer);
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Cancelled"}));
    ExpectClosedWithStop();
    EXPECT_EQ(f.Count("write"), 0);

    // With a cancel pending it is the early cancel ending.
    Reset();
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
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Cancelled"}));
    EXPECT_EQ(f.pageCloses, (std::vector<bool>{false}));
    EXPECT_EQ(f.Count("write"), 0);
}

// --- Stopping during the write ---------------------------------------------------------------

TEST_F(ImageWriterTest, ImageThatShrinksStopsWithoutAMessage) {
    f.SetImage(65536 * 4);
    f.readableBytes = 65536 * 2 + 100;  // chunk 2 comes up short
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Cancelled"}));
    EXPECT_EQ(f.Offsets(), (std::vector<int64_t>{0, 65536}));  // the zeroed head, chunk 1
    EXPECT_TRUE(std::all_of(f.diskBytes.begin(), f.diskBytes.begin() + 65536, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(f.statuses.back(), kCancelledText);
    ExpectClosedWithStop();

    // Short from the start: neither the disk nor the volume is touched at all.
    Reset();
    f.SetImage(65536 * 2);
    f.readableBytes = 1000;
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_TRUE(f.diskWrites.empty());
    EXPECT_EQ(f.volumeWrites, 0);
}

TEST_F(ImageWriterTest, WriteFailureShowsTheDriveErrorThenTheCancel) {
    f.SetImage(65536 * 3);
    f.failingDiskWrite = 2;  // chunk 2
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    ASSERT_EQ(f.boxes.size(), 2u);
    EXPECT_EQ(f.boxes[0].text,
              WithCause("An error occurred writing the Halcyra image to your USB Drive.", 31));
    EXPECT_EQ(f.boxes[0].caption, "Drive Error");
    EXPECT_EQ(f.boxes[0].style, kBoxIconError);
    EXPECT_EQ(f.boxes[1].caption, "Cancelled");
    EXPECT_EQ(f.diskWrites.size(), 3u);  // nothing after the failed chunk, chunk 0 never
    EXPECT_EQ(f.Count("read"), 3);
    EXPECT_EQ(f.cancel.load(), 1);
    ExpectClosedWithStop();

    // A disk that can't be opened: the drive error with its cause, and nothing is written, not
    // even the volume's wipe; back to the drive page.
    Reset();
    f.SetImage(65536 * 2);
    f.openFailures[kDisk] = 1;
    f.openError = 433;
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::DiskNotOpened);
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Drive Error"}));
    EXPECT_EQ(f.boxes[0].text, WithCause(kDriveErrorText, 433));
    EXPECT_EQ(f.Count("write"), 0);
    EXPECT_EQ(std::count(f.volumeBytes.begin(), f.volumeBytes.end(), 0xAA), 2 * kChunkSize);
    ExpectClosedWithStop();
}

TEST_F(ImageWriterTest, WriteFailureWithACancelPendingShowsOnlyTheCancel) {
    f.SetImage(65536 * 3);
    f.failingDiskWrite = 1;
    struct Hook {  // the user's cancel arrives while chunk 1 is being written
        static bool Write(void* c, DeviceHandle h, int64_t offset, const void* data, uint32_t n) {
            if (offset == 65536) F(c).cancel = 1;
            return WriteAt(c, h, offset, data, n);
        }
    };
    WriterOps ops = Ops();
    ops.writeAt = Hook::Write;
    EXPECT_FALSE(Run(ops));
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Cancelled"}));
    ExpectClosedWithStop();
}

TEST_F(ImageWriterTest, CancelDuringTheWriteStopsAfterTheChunkInProgress) {
    f.SetImage(65536 * 6 + 10);
    f.onStatus = [](Fake& fake, const std::string& text) {  // confirmed at the third line
        if (text.find("Written") != std::string::npos && ++fake.linesShown == 3) {
            fake.cancel = 1;
            fake.write = 0;
            fake.download = 0;
        }
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_EQ(f.Offsets(), (std::vector<int64_t>{0, 65536, 131072, 196608}));
    EXPECT_EQ(f.Count("read"), 4);  // chunk 0 and chunks 1..3; no further chunk is read
    EXPECT_TRUE(std::all_of(f.diskBytes.begin(), f.diskBytes.begin() + 65536, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(f.image.begin() + 65536, f.image.begin() + 4 * 65536, f.diskBytes.begin() + 65536));
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Cancelled"}));
    EXPECT_EQ(f.statuses.back(), kCancelledText);
    ExpectClosedWithStop();

    // A cancel after the last chunk still ends as cancelled.
    Reset();
    f.SetImage(65536 * 2);
    f.onStatus = [](Fake& fake, const std::string& text) {
        if (text.rfind("128.00 KB of", 0) == 0) fake.cancel = 1;
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_TRUE(std::equal(f.image.begin(), f.image.end(), f.diskBytes.begin()));
    ExpectClosedWithStop();
}

// --- What the user is told of a failed call --------------------------------------------------

// The box of a failed write carries that call's own code, not an earlier one's; a disk that
// refuses its first write leaves the volume as it was.
TEST_F(ImageWriterTest, AFailedWriteIsToldWithItsOwnCause) {
    struct Row {
        const char* what;
        int refusedLocks, failingWrite;
        uint32_t error;
        const char* systemText;
    };
    const Row rows[] = {
        {"the disk refuses its first write", 0, 0, 19, ""},
        {"a lock refused, Yes, then a chunk's write fails", 1, 2, 21, ""},
        {"a chunk's write ends short", 0, 2, kShortTransfer, ""},
        {"a code of no known cause", 0, 1, 50, "Not supported.\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (&row != rows) Reset();
        f.SetImage(65536 * 4);
        f.lockFailures[kVolume] = row.refusedLocks;
        f.answers.assign(row.refusedLocks, kAnswerYes);
        f.failingDiskWrite = row.failingWrite;
        f.writeError = row.error;
        f.shortWrite = row.error == kShortTransfer;
        f.systemTexts[row.error] = row.systemText;
        EXPECT_FALSE(Run());
        ASSERT_GE(f.boxes.size(), 2u);  // the drive error, then the cancel
        EXPECT_EQ(f.boxes.end()[-2].text, WithCause(kDriveErrorText, row.error, row.systemText));
        EXPECT_EQ(f.notes.end()[-2],
                  "a write to the disk failed (error " + std::to_string(row.error) + ")");
        EXPECT_EQ(std::count(f.volumeBytes.begin(), f.volumeBytes.end(), 0xAA),
                  row.failingWrite == 0 ? 2 * kChunkSize : kChunkSize);
    }
}

// --- Read-back and the last checks before anything is written --------------------------------

TEST_F(ImageWriterTest, OnlyAnImageReadBackWholeSucceeds) {
    struct Row {
        const char* what;
        int64_t keptBytes;
        int failingRead;
        bool keepsNothing;
    };
    const Row rows[] = {
        {"a stick smaller than it reports", 65536 * 2, -1, false},
        {"a read that fails", -1, 2, false},
        {"a stick that keeps nothing", -1, -1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (&row != rows) Reset();
        f.SetImage(65536 * 3 + 100);
        f.keptBytes = row.keptBytes;
        f.failingDiskRead = row.failingRead;
        WriterOps ops = Ops();
        if (row.keepsNothing)
            ops.writeAt = [](void* c, DeviceHandle h, int64_t offset, const void* data, uint32_t n) {
                if (!D(h).isDisk) return WriteAt(c, h, offset, data, n);
                F(c).diskWrites.push_back({offset, n, 0});  // accepted, and forgotten
                return true;
            };
        EXPECT_FALSE(Run(ops));
        EXPECT_EQ(ending, WriterEnding::WriteCancel);
        ASSERT_EQ(f.Captions(), (std::vector<std::string>{"Drive Error", "Cancelled"}));
        // A difference is told as such; a read that fails, as the drive error with its cause.
        EXPECT_EQ(f.boxes[0].text, row.failingRead < 0 ? std::string(kVerifyFailedText)
                                                       : WithCause(kDriveErrorText, f.readError));
        EXPECT_EQ(f.boxes[0].style, kBoxIconError);
        EXPECT_EQ(f.statuses.back(), kCancelledText);
        ExpectClosedWithStop();
        // Chunk 0 was never written: no partition table in front of the bad data.
        EXPECT_EQ(f.Offsets().back(), 196608);
        EXPECT_EQ(f.refreshes, 0);
        if (row.keptBytes < 0) {
            const size_t head = std::min<size_t>(f.diskBytes.size(), 65536);
            EXPECT_TRUE(std::all_of(f.diskBytes.begin(), f.diskBytes.begin() + head,
                                    [](uint8_t b) { return b == 0; }));
        }
    }
}

TEST_F(ImageWriterTest, CancelDuringTheReadBackEndsAsCancelled) {
    f.SetImage(65536 * 4);
    f.onStatus = [](Fake& fake, const std::string& text) {
        if (text.find("Verified") != std::string::npos) fake.cancel = 1;
    };
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::WriteCancel);
    EXPECT_EQ(f.Count("read disk"), 1);
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Cancelled"}));
    ExpectClosedWithStop();
}

TEST_F(ImageWriterTest, NothingIsWrittenToADriveThatChangedOrAfterACancelBeforeTheWipe) {
    // Another device has taken the letter: checked before the volume is opened.
    f.SetImage(65536);
    f.driveChanged = true;
    EXPECT_FALSE(Run());
    EXPECT_EQ(ending, WriterEnding::DriveChanged);
    EXPECT_EQ(f.Count("open"), 0);
    ASSERT_EQ(f.boxes.size(), 1u);
    EXPECT_EQ(f.boxes[0].text, WithLetter(kDriveChangedFormat));
    EXPECT_EQ(f.boxes[0].caption, "Drive Error");
    ExpectClosedWithStop();

    // The cancel arrives during the pause before the lock: the drive keeps every byte.
    Reset();
    f.SetImage(65536 * 2);
    struct Hook {
        static void Pause(void* c, unsigned) { F(c).cancel = 1; }
    };
    WriterOps ops = Ops();
    ops.pause = Hook::Pause;
    EXPECT_FALSE(Run(ops));
    ExpectEarlyCancel();
    EXPECT_EQ(f.volumeWrites, 0);
    EXPECT_TRUE(f.diskWrites.empty());
    EXPECT_EQ(f.Captions(), (std::vector<std::string>{"Cancelled"}));
}

TEST_F(ImageWriterTest, ADiskThatIsNotTheChosenOneOrTooSmallGetsNoWriteAtAll) {
    struct Row {
        const char* what;
        bool lengthKnown;
        int64_t diskLength;
        bool diskChanged;
        WriterEnding ending;
    };
    const int64_t size = 65536 * 3 + 1000;
    const Row rows[] = {
        {"the disk answers unlike the chosen one", false, 0, true, WriterEnding::DriveChanged},
        {"known to be one byte too small", true, size - 1, false, WriterEnding::TooSmall},
        {"known to be far too small", true, 4096, false, WriterEnding::TooSmall},
        {"known to hold the image exactly", true, size, false, WriterEnding::Success},
        {"of unknown length", false, 0, false, WriterEnding::Success},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (&row != rows) Reset();
        f.SetImage(size);
        f.lengthKnown = row.lengthKnown;
        f.diskLength = row.diskLength;
        f.diskChanged = row.diskChanged;
        EXPECT_EQ(Run(), row.ending == WriterEnding::Success);
        EXPECT_EQ(ending, row.ending);
        if (row.ending == WriterEnding::Success) continue;
        EXPECT_EQ(f.Count("write"), 0);  // neither the wipe nor a chunk
        ASSERT_EQ(f.boxes.size(), 1u);
        EXPECT_EQ(f.boxes[0].caption, "Drive Error");
        EXPECT_EQ(f.boxes[0].style, kBoxIconError);
        ExpectClosedWithStop();
        if (row.ending == WriterEnding::DriveChanged) {
            EXPECT_EQ(f.boxes[0].text, WithLetter(kDriveChangedFormat));
        } else {
            EXPECT_EQ(f.Count("open " + kDisk), 0);
            char text[kTooSmallTextSize];
            TooSmallText(text, sizeof text, size, 'E', row.diskLength);
            EXPECT_EQ(f.boxes[0].text, text);
        }
    }
}

}  // namespace
