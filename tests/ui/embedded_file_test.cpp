#include "ui/embedded_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {
std::string TempPath(const char* name) {
    return testing::TempDir() + name;
}

std::vector<char> ReadAll(const std::string& path) {
    std::vector<char> data;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return data;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) data.insert(data.end(), buffer, buffer + n);
    fclose(file);
    return data;
}
}  // namespace

TEST(EmbeddedFile, WritesTheBlockExactlyInOnePieceOrMany) {
    std::vector<char> block(78187);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
    const std::string path = TempPath("guide-one.chm");
    for (size_t piece : {size_t{0}, kEmbeddedPieceSize, size_t{1000}, size_t{78187}}) {
        ASSERT_TRUE(WriteEmbeddedFile(block.data(), block.size(), path.c_str(), piece)) << piece;
        EXPECT_EQ(ReadAll(path), block) << piece;
    }
    // Writing again replaces a longer file completely.
    ASSERT_TRUE(WriteEmbeddedFile(block.data(), 10, path.c_str(), 0));
    EXPECT_EQ(ReadAll(path).size(), 10u);
    remove(path.c_str());
}

TEST(EmbeddedFile, AnUnwritablePathFails) {
    const char data[] = "x";
    EXPECT_FALSE(WriteEmbeddedFile(data, 1, "/nonexistent-folder/x/guide.chm", 0));
}
