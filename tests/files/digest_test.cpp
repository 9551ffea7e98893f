#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "files/digest.h"
#include "tests/support/sandbox.h"

namespace quorvane {
namespace {

using testing::Sandbox;

constexpr std::size_t kMebibyte = 1048576;

// Bytes 0, 1, ..., 250, 0, 1, ...: no run repeats on a power of two, so a
// chunk added twice or left out changes the digest.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t index = 0; index < size; ++index) bytes[index] = static_cast<char>(index % 251);
    return bytes;
}

std::string DigestOf(const Sandbox& sandbox, const std::string& bytes) {
    const auto path = sandbox.root() / L"hashed.bin";
    testing::WriteFile(path, bytes);
    return Sha256OfFile(path.wstring());
}

TEST(FileDigest, EmptyFileGivesTheDigestOfTheEmptyMessage) {
    const Sandbox sandbox;
    EXPECT_EQ(DigestOf(sandbox, ""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(FileDigest, ShortFileIsLowerCaseHex) {
    const Sandbox sandbox;
    EXPECT_EQ(DigestOf(sandbox, "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(FileDigest, ExactlyOneMebibyteIsOneChunk) {
    const Sandbox sandbox;
    EXPECT_EQ(DigestOf(sandbox, Pattern(kMebibyte)),
              "631b84027d6b9e52b539c4e8373622d23032dfadc64d60af87339c9037e4f769");
}

TEST(FileDigest, OneMebibyteAndOneByteIsTwoChunks) {
    const Sandbox sandbox;
    EXPECT_EQ(DigestOf(sandbox, Pattern(kMebibyte + 1)),
              "5769f52bc3eef28afa39c6fc68cadb7d0bd69812ae3a3d71452f519ec3c7aa56");
}

TEST(FileDigest, MissingFileCannotBeRead) {
    const Sandbox sandbox;
    try {
        Sha256OfFile((sandbox.root() / L"absent.bin").wstring());
        FAIL() << "a missing file was hashed";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "无法读取安装包进行校验");
    }
}

}  // namespace
}  // namespace quorvane
