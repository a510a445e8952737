#include "download/image_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

namespace {

constexpr const char kAddress[] = "http://127.0.0.1:8080/halcyra/image?product=halcyra";
constexpr uint64_t kLength = 4206649;
constexpr const char kDate[] = "Tue, 08 Dec 2026 10:00:00 GMT";

ImageRecord Kept(const char* etag, const char* lastModified, uint64_t length = kLength) {
    ImageRecord record;
    snprintf(record.address, sizeof record.address, "%s", kAddress);
    snprintf(record.etag, sizeof record.etag, "%s", etag);
    snprintf(record.lastModified, sizeof record.lastModified, "%s", lastModified);
    record.length = length;
    snprintf(record.sha256, sizeof record.sha256, "%s", std::string(64, 'a').c_str());
    record.downloaded = RecordDate{2026, 12, 8, 14, 3, 22};
    return record;
}

ResponseHeaders Now(const char* etag, const char* lastModified, uint64_t length = kLength,
                    uint32_t status = 200) {
    ResponseHeaders headers;
    headers.status = status;
    headers.contentLength = length;
    snprintf(headers.etag, sizeof headers.etag, "%s", etag);
    snprintf(headers.lastModified, sizeof headers.lastModified, "%s", lastModified);
    return headers;
}

ReuseVerdict Decide(const ImageRecord& kept, const ResponseHeaders& now,
                    RecordState state = RecordState::Read, bool hash = true,
                    const char* address = kAddress, bool askedETag = false) {
    return DecideReuse(ReuseFacts{hash, state, &kept, address, askedETag, &now});
}

}  // namespace

TEST(ImageRecord, WhichHeadersShowTheKeptImage) {
    const ImageRecord strong = Kept("\"1f-5a\"", kDate);
    // The same strong ETag: the kept image, also without a length or a Last-Modified.
    EXPECT_EQ(Decide(strong, Now("\"1f-5a\"", kDate)), ReuseVerdict::Reuse);
    EXPECT_EQ(Decide(strong, Now("\"1f-5a\"", "", 0)), ReuseVerdict::Reuse);
    // Another ETag, another length, another ETag with the same date: a changed image.
    EXPECT_EQ(Decide(strong, Now("\"20-5b\"", kDate)), ReuseVerdict::Changed);
    EXPECT_EQ(Decide(strong, Now("\"1f-5a\"", kDate, kLength + 1)), ReuseVerdict::Changed);
    EXPECT_EQ(Decide(strong, Now("\"1F-5A\"", kDate)), ReuseVerdict::Changed);

    // Without an ETag: the same Last-Modified and the same given length, nothing less.
    const ImageRecord dated = Kept("", kDate);
    EXPECT_EQ(Decide(dated, Now("", kDate)), ReuseVerdict::Reuse);
    EXPECT_EQ(Decide(strong, Now("", kDate)), ReuseVerdict::Reuse);
    EXPECT_EQ(Decide(dated, Now("", kDate, 0)), ReuseVerdict::Changed);
    EXPECT_EQ(Decide(dated, Now("", "Wed, 09 Dec 2026 10:00:00 GMT")), ReuseVerdict::Changed);
    // The record had no ETag and the server now sends one: nothing to compare it with.
    EXPECT_EQ(Decide(dated, Now("\"1f-5a\"", kDate)), ReuseVerdict::Changed);

    // A weak ETag never counts as the same; another weak one is another image.
    const ImageRecord weak = Kept("W/\"1f-5a\"", "");
    EXPECT_EQ(Decide(weak, Now("W/\"1f-5a\"", "")), ReuseVerdict::NoValidators);
    EXPECT_EQ(Decide(Kept("W/\"1f-5a\"", kDate), Now("W/\"1f-5a\"", kDate)), ReuseVerdict::Reuse);
    EXPECT_EQ(Decide(Kept("W/\"1f-5a\"", kDate), Now("W/\"20-5b\"", kDate)),
              ReuseVerdict::Changed);

    // A server that sends neither header: every run downloads.
    EXPECT_EQ(Decide(strong, Now("", "")), ReuseVerdict::NoValidators);
    EXPECT_EQ(Decide(Kept("", ""), Now("", "")), ReuseVerdict::NoValidators);

    // "304 Not Modified" answers the request's If-None-Match, with or without the ETag again;
    // one that names another ETag, or that nobody asked for, is not the kept image.
    const auto asked = [&](const ResponseHeaders& now) {
        return Decide(strong, now, RecordState::Read, true, kAddress, true);
    };
    EXPECT_EQ(asked(Now("\"1f-5a\"", kDate, 0, 304)), ReuseVerdict::Reuse);
    EXPECT_EQ(asked(Now("", "", 0, 304)), ReuseVerdict::Reuse);
    EXPECT_EQ(asked(Now("\"20-5b\"", kDate, 0, 304)), ReuseVerdict::Changed);
    EXPECT_EQ(asked(Now("W/\"1f-5a\"", kDate, 0, 304)), ReuseVerdict::Changed);
    EXPECT_EQ(Decide(strong, Now("\"1f-5a\"", kDate, 0, 304)), ReuseVerdict::NotServed);
    // Such a 304 to the condition is asked again without it; one nobody asked for is an answer.
    EXPECT_TRUE(AskAgainWithoutCondition(304, true, ReuseVerdict::Changed));
    EXPECT_FALSE(AskAgainWithoutCondition(304, true, ReuseVerdict::Reuse));
    EXPECT_FALSE(AskAgainWithoutCondition(304, false, ReuseVerdict::NotServed));
    EXPECT_FALSE(AskAgainWithoutCondition(200, true, ReuseVerdict::Changed));
    // The same request answered with the image: the headers decide as for any other.
    EXPECT_EQ(asked(Now("\"1f-5a\"", kDate)), ReuseVerdict::Reuse);
    EXPECT_EQ(asked(Now("\"20-5b\"", kDate)), ReuseVerdict::Changed);
}

TEST(ImageRecord, TheRequestAsksWithTheKeptStrongETagOnly) {
    char header[160];
    EXPECT_TRUE(ConditionalRequestHeader(header, sizeof header, RecordState::Read,
                                         Kept("\"1f-5a\"", kDate), kAddress));
    EXPECT_STREQ(header, "If-None-Match: \"1f-5a\"\r\n");
    // A weak ETag would be matched weakly by the server, a date alone says too little, and a
    // record of another address or none at all has nothing to ask.
    for (const auto& [state, etag, address] :
         std::initializer_list<std::tuple<RecordState, const char*, const char*>>{
             {RecordState::Read, "W/\"1f-5a\"", kAddress},
             {RecordState::Read, "", kAddress},
             {RecordState::Read, "\"1f-5a\"", "http://other/halcyra/image"},
             {RecordState::Unreadable, "\"1f-5a\"", kAddress},
             {RecordState::None, "\"1f-5a\"", kAddress}}) {
        EXPECT_FALSE(ConditionalRequestHeader(header, sizeof header, state, Kept(etag, kDate),
                                              address))
            << etag;
        EXPECT_STREQ(header, "");
    }
}

TEST(ImageRecord, WhichRecordAndSystemAllowTheKeptImage) {
    const ImageRecord kept = Kept("\"1f-5a\"", kDate);
    const ResponseHeaders same = Now("\"1f-5a\"", kDate);
    EXPECT_EQ(Decide(kept, same, RecordState::None), ReuseVerdict::NoRecord);
    EXPECT_EQ(Decide(kept, same, RecordState::Unreadable), ReuseVerdict::RecordUnreadable);
    EXPECT_EQ(Decide(kept, same, RecordState::Read, false), ReuseVerdict::NoHash);
    EXPECT_EQ(Decide(kept, same, RecordState::Read, true, "http://other/halcyra/image"),
              ReuseVerdict::OtherAddress);
    // An error answer carries the same validators now and then: never the image.
    EXPECT_EQ(Decide(kept, Now("\"1f-5a\"", kDate, kLength, 404)), ReuseVerdict::NotServed);
    EXPECT_EQ(Decide(kept, Now("\"1f-5a\"", kDate, kLength, 0)), ReuseVerdict::NotServed);
}

TEST(ImageRecord, ARecordReadsBackAndOnlyAWholeOneReads) {
    char text[kRecordTextSize];
    const ImageRecord kept = Kept("W/\"1f-5a\"", "");
    ASSERT_TRUE(FormatImageRecord(text, sizeof text, kept));
    EXPECT_EQ(std::string(text),
              std::string("Halcyra Creator image record\r\nAddress: ") + kAddress +
                  "\r\nETag: W/\"1f-5a\"\r\nLast-Modified: \r\nContent-Length: 4206649\r\n"
                  "SHA-256: " + std::string(64, 'a') + "\r\nDownloaded: 2026-12-08 14:03:22\r\n");
    ImageRecord read;
    ASSERT_TRUE(ParseImageRecord(text, &read));
    EXPECT_STREQ(read.address, kAddress);
    EXPECT_STREQ(read.etag, "W/\"1f-5a\"");
    EXPECT_STREQ(read.lastModified, "");
    EXPECT_EQ(read.length, kLength);
    EXPECT_EQ(read.downloaded.day, 8);
    EXPECT_EQ(Decide(read, Now("W/\"1f-5a\"", "")), ReuseVerdict::NoValidators);

    // Each field damaged or missing in turn, another title, and no text: not a record.
    const std::string whole = text;
    for (const char* field : {"Address: ", "ETag: ", "Last-Modified: ", "Content-Length: ",
                              "SHA-256: ", "Downloaded: "}) {
        std::string missing = whole;
        const size_t at = missing.find(field);
        missing.erase(at, missing.find("\r\n", at) + 2 - at);
        EXPECT_FALSE(ParseImageRecord(missing.c_str(), &read)) << field;
    }
    for (const auto& [from, to] : std::initializer_list<std::pair<const char*, const char*>>{
             {"Content-Length: 4206649", "Content-Length: 0"},
             {"Content-Length: 4206649", "Content-Length: 42x"},
             {"SHA-256: aaaa", "SHA-256: Aaaa"},
             {"SHA-256: aaaa", "SHA-256: aaa"},
             {"2026-12-08 14:03:22", "2026-13-08 14:03:22"},
             {"2026-12-08 14:03:22", "8 December 2026"},
             {"Halcyra Creator image record", "Halcyra Creator image recording"},
             {"Address: http", "Address: \r\nX: http"}}) {
        std::string damaged = whole;
        damaged.replace(damaged.find(from), strlen(from), to);
        EXPECT_FALSE(ParseImageRecord(damaged.c_str(), &read)) << to;
    }
    EXPECT_FALSE(ParseImageRecord("", &read));
    EXPECT_FALSE(ParseImageRecord(nullptr, &read));
}

TEST(ImageRecord, TheKeptFileAndWhatThePageSays) {
    uint8_t digest[kSha256Size];
    for (size_t i = 0; i < kSha256Size; ++i) digest[i] = static_cast<uint8_t>(i * 9);
    char text[kSha256TextSize];
    Sha256Text(digest, text);
    // The record's text gives back the very digest the writer compares.
    uint8_t back[kSha256Size];
    ASSERT_TRUE(Sha256FromText(text, back));
    EXPECT_EQ(0, memcmp(back, digest, kSha256Size));
    for (const std::string& refused : {std::string(63, 'a'), std::string(65, 'a'),
                                       std::string(63, 'a') + "g", std::string(64, 'A'),
                                       std::string()})
        EXPECT_FALSE(Sha256FromText(refused.c_str(), back)) << refused;
    EXPECT_STREQ(text, "0009121b242d363f48515a636c757e879099a2abb4bdc6cfd8e1eaf3fc050e17");

    const ImageRecord kept = Kept("\"1f-5a\"", kDate);
    char line[kKeptImageTextSize];
    KeptImageText(line, sizeof line, kept.downloaded);
    EXPECT_STREQ(line, "Using the image downloaded on 8 December 2026");
    KeptImageText(line, sizeof line, RecordDate{2027, 1, 31, 0, 0, 0});
    EXPECT_STREQ(line, "Using the image downloaded on 31 January 2027");
}
