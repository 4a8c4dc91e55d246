#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>
#include "operations/FileDigest.h"
#include "operations/Sha256.h"
#include "OperationsTestSupport.h"

namespace {

const Sha256::Path kPaths[] = { Sha256::Path::Portable, Sha256::Path::ShaExtensions };

std::string PathName(Sha256::Path path) { return path == Sha256::Path::Portable ? "portable" : "SHA extensions"; }

class Sha256PathTest : public testing::TestWithParam<Sha256::Path> {
protected:
    void SetUp() override {
        if (GetParam() == Sha256::Path::ShaExtensions && !Sha256::ShaExtensionsAvailable()) {
            GTEST_SKIP() << "processor without SHA extensions";
        }
    }
};

INSTANTIATE_TEST_SUITE_P(BothBlockFunctions, Sha256PathTest, testing::ValuesIn(kPaths),
                         [](const testing::TestParamInfo<Sha256::Path>& info) {
                             return info.param == Sha256::Path::Portable ? std::string("Portable") : std::string("ShaExtensions");
                         });

TEST_P(Sha256PathTest, GivesTheFipsExampleDigests) {
    struct Case { std::string message; const wchar_t* digest; };
    const Case cases[] = {
        { "", L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855" },
        { "abc", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad" },
        { "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
          L"248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1" },
        { "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
          L"cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1" },
        { std::string(1000000, 'a'), L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexText(Sha256Of(c.message.data(), c.message.size(), GetParam())), c.digest)
            << PathName(GetParam()) << ", message of " << c.message.size() << " bytes";
    }
}

TEST_P(Sha256PathTest, SplitUpdatesGiveTheDigestOfTheWhole) {
    const std::string message(1000000, 'a');
    const size_t pieces[] = { 1, 3, 63, 64, 65, 127, 4096, 40960 };
    for (size_t piece : pieces) {
        Sha256 sha(GetParam());
        for (size_t offset = 0; offset < message.size(); offset += piece) {
            sha.Update(message.data() + offset, std::min(piece, message.size() - offset));
        }
        EXPECT_EQ(HexText(sha.Finish()), L"cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0") << "pieces of " << piece;
    }
}

TEST_P(Sha256PathTest, IgnoresUpdatesAfterFinish) {
    Sha256 sha(GetParam());
    sha.Update("abc", 3);
    const Sha256::Digest first = sha.Finish();
    sha.Update("more", 4);
    EXPECT_EQ(sha.Finish(), first);
    EXPECT_EQ(HexText(first), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256Paths, ExtensionPathIsChosenAutomaticallyWhenAvailable) {
    Sha256 automatic;
    EXPECT_EQ(automatic.ActivePath(), Sha256::ShaExtensionsAvailable() ? Sha256::Path::ShaExtensions : Sha256::Path::Portable);
    EXPECT_EQ(Sha256(Sha256::Path::Portable).ActivePath(), Sha256::Path::Portable);
}

TEST(Sha256Paths, BothPathsAgreeOnRandomDataOfEveryLengthUpTo1000Bytes) {
    if (!Sha256::ShaExtensionsAvailable()) GTEST_SKIP() << "processor without SHA extensions";
    std::mt19937 random(20240601);
    std::vector<uint8_t> data(1000);
    for (auto& byte : data) byte = static_cast<uint8_t>(random());
    for (size_t length = 0; length <= data.size(); ++length) {
        const auto portable = Sha256Of(data.data(), length, Sha256::Path::Portable);
        ASSERT_EQ(HexText(Sha256Of(data.data(), length, Sha256::Path::ShaExtensions)), HexText(portable)) << "length " << length;

        // The same bytes fed in two uneven parts through the extension path.
        const size_t split = length == 0 ? 0 : random() % length;
        Sha256 sha(Sha256::Path::ShaExtensions);
        sha.Update(data.data(), split);
        sha.Update(data.data() + split, length - split);
        ASSERT_EQ(HexText(sha.Finish()), HexText(portable)) << "length " << length << " split at " << split;
    }
}

// One 100 MB file, digested through the file reader with each block function.
class LargeFileDigest : public testing::TestWithParam<Sha256::Path> {
protected:
    void SetUp() override {
        if (GetParam() == Sha256::Path::ShaExtensions && !Sha256::ShaExtensionsAvailable()) {
            GTEST_SKIP() << "processor without SHA extensions";
        }
    }
    static void SetUpTestSuite() {
        dir_ = new TempDir(L"sha");
        path_ = new std::wstring(*dir_ / L"large.bin");
        std::mt19937 random(7);
        std::vector<uint8_t> chunk(1 << 20);
        Sha256 expected(Sha256::Path::Portable);
        UniqueFileHandle file(::CreateFileW(path_->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        for (int i = 0; i < 100; ++i) {
            for (auto& byte : chunk) byte = static_cast<uint8_t>(random() >> 11);
            // One odd tail so that the size is no multiple of the read chunk or the block.
            const DWORD size = static_cast<DWORD>(i == 99 ? chunk.size() - 13 : chunk.size());
            DWORD written = 0;
            ::WriteFile(file.get(), chunk.data(), size, &written, nullptr);
            expected.Update(chunk.data(), size);
        }
        file.reset();
        expected_ = new std::wstring(HexText(expected.Finish()));
    }
    static void TearDownTestSuite() {
        delete expected_;
        delete path_;
        delete dir_;
    }
    static TempDir* dir_;
    static std::wstring* path_;
    static std::wstring* expected_;
};
TempDir* LargeFileDigest::dir_ = nullptr;
std::wstring* LargeFileDigest::path_ = nullptr;
std::wstring* LargeFileDigest::expected_ = nullptr;

INSTANTIATE_TEST_SUITE_P(BothBlockFunctions, LargeFileDigest, testing::ValuesIn(kPaths),
                         [](const testing::TestParamInfo<Sha256::Path>& info) {
                             return info.param == Sha256::Path::Portable ? std::string("Portable") : std::string("ShaExtensions");
                         });

TEST_P(LargeFileDigest, DigestOfA100MegabyteFileMatchesTheDataWritten) {
    Sha256::Digest digest{};
    ASSERT_EQ(ComputeFileDigest(*path_, digest, GetParam()), 0u);
    EXPECT_EQ(HexText(digest), *expected_);
    if (GetParam() == Sha256::Path::Portable) {
        // The verifier reads the same file through the automatically chosen block function.
        DWORD error = 99;
        EXPECT_TRUE(VerifyFileDigest(*path_, *expected_, error));
        EXPECT_EQ(error, 0u);
    }
}

} // namespace
