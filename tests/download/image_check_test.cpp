#include "download/image_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Sector(const std::string& start, bool signature) {
    std::vector<uint8_t> data(kImageCheckBytes, 0);
    std::copy(start.begin(), start.end(), data.begin());
    if (signature) data[510] = 0x55, data[511] = 0xAA;
    return data;
}

ImageVerdict Check(const std::vector<uint8_t>& start, uint64_t fileSize, const char* type) {
    return CheckImageStart(start.data(), start.size(), fileSize, type);
}

const char kSignIn[] =
    "<!DOCTYPE html>\n<html><head><title>Sign in to GuestNet</title></head><body>"
    "<form method=post>...</form></body></html>\n";

}  // namespace

TEST(ImageCheck, WhatArrivedIsAnImageOnlyWithTheBootSignature) {
    const std::vector<uint8_t> image = Sector("\xeb\x3c\x90MSDOS5.0", true);
    EXPECT_EQ(Check(image, 4206649, "application/octet-stream"), ImageVerdict::Image);
    EXPECT_EQ(Check(image, 512, nullptr), ImageVerdict::Image);
    // A valid image that a misconfigured server labels as a web page is still written.
    EXPECT_EQ(Check(image, 4206649, "text/html; charset=utf-8"), ImageVerdict::Image);

    // One sector without the signature, or with half of it.
    EXPECT_EQ(Check(Sector("\xeb\x3c\x90", false), 4206649, "application/octet-stream"),
              ImageVerdict::NoSignature);
    std::vector<uint8_t> half = Sector("", false);
    half[510] = 0x55;
    EXPECT_EQ(Check(half, 512, ""), ImageVerdict::NoSignature);
    half[510] = 0xAA, half[511] = 0x55;  // the bytes swapped
    EXPECT_EQ(Check(half, 512, ""), ImageVerdict::NoSignature);

    // Shorter than a sector, whatever it holds: even a signature at its end doesn't count.
    std::vector<uint8_t> shortFile(image.begin(), image.begin() + 100);
    EXPECT_EQ(Check(shortFile, 100, "application/octet-stream"), ImageVerdict::TooShort);
    EXPECT_EQ(Check({}, 0, nullptr), ImageVerdict::TooShort);
    EXPECT_EQ(Check(image, 511, nullptr), ImageVerdict::TooShort);
}

TEST(ImageCheck, AWebPageIsToldApartByItsTypeOrItsStart) {
    const std::vector<uint8_t> page(kSignIn, kSignIn + sizeof kSignIn - 1);
    // A sign-in page: served as HTML, or as a download.
    EXPECT_EQ(Check(page, page.size(), "text/html"), ImageVerdict::WebPage);
    EXPECT_EQ(Check(page, page.size(), "application/octet-stream"), ImageVerdict::WebPage);
    // A page of a sector or more, without a type.
    EXPECT_EQ(Check(Sector(kSignIn, false), 9000, nullptr), ImageVerdict::WebPage);
    // Anything served as HTML, even bytes that don't look like a page.
    EXPECT_EQ(Check(Sector("\x01\x02", false), 512, "Text/HTML;charset=iso-8859-1"),
              ImageVerdict::WebPage);
    EXPECT_EQ(Check(Sector("\x01\x02", false), 512, "application/xhtml+xml"),
              ImageVerdict::WebPage);
}

TEST(ImageCheck, WebPageStartsAndTypes) {
    auto starts = [](const std::string& text) {
        return StartsLikeWebPage(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    EXPECT_TRUE(starts("\xef\xbb\xbf\r\n  <!doctype HTML>"));
    EXPECT_TRUE(starts("<?xml version=\"1.0\"?><html>"));
    EXPECT_TRUE(starts("<meta http-equiv=refresh content=0;url=/login>"));
    EXPECT_FALSE(starts("<htm"));
    EXPECT_FALSE(starts("\xeb\x3c\x90<html>"));

    EXPECT_TRUE(IsWebPageType(" TEXT/HTML ; charset=utf-8"));
    EXPECT_FALSE(IsWebPageType("text/htmlx"));
    EXPECT_FALSE(IsWebPageType(nullptr));
}
