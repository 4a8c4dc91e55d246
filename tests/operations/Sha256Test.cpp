#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>
#include "operations/FileDigest.h"
#include "operations/Sha256.h"
#include "operations/Sha256Blocks.h"
#include "OperationsTestSupport.h"

namespace {

const Sha256::Path kPaths[] = { Sha256::Path::Portable, Sha256::Path::ShaExtensions, Sha256::Path::Avx2 };

std::string PathName(Sha256::Path path) {
    switch (path) {
    case Sha256::Path::ShaExtensions: return "ShaExtensions";
    case Sha256::Path::Avx2: return "Avx2";
    case Sha256::Path::Portable: return "Portable";
    default: return "Auto";
    }
}

bool Available(Sha256::Path path) {
    if (path == Sha256::Path::ShaExtensions) return Sha256::ShaExtensionsAvailable();
    if (path == Sha256::Path::Avx2) return Sha256::Avx2Available();
    return true;
}

std::string ParamName(const testing::TestParamInfo<Sha256::Path>& info) { return PathName(info.param); }

// Tests of a block function this processor cannot run are skipped, not passed.
class Sha256PathTest : public testing::TestWithParam<Sha256::Path> {
protected:
    void SetUp() override {
        if (!Available(GetParam())) GTEST_SKIP() << "processor without the " << PathName(GetParam()) << " path";
    }
};

INSTANTIATE_TEST_SUITE_P(EveryBlockFunction, Sha256PathTest, testing::ValuesIn(kPaths), ParamName);

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

TEST_P(Sha256PathTest, RunsTheRequestedPath) {
    EXPECT_EQ(Sha256(GetParam()).ActivePath(), GetParam());
}

// Random bytes of every length from 0 to 1000 (0 to 15 whole blocks, every tail), fed whole and
// in uneven pieces, give the portable digest.
TEST_P(Sha256PathTest, AgreesWithThePortablePathOnRandomDataOfEveryLengthUpTo1000Bytes) {
    std::mt19937 random(20240601);
    std::vector<uint8_t> data(1000);
    for (auto& byte : data) byte = static_cast<uint8_t>(random());
    const size_t pieces[] = { 1, 5, 63, 64, 65, 3, 128, 191, 17 };
    for (size_t length = 0; length <= data.size(); ++length) {
        const auto portable = HexText(Sha256Of(data.data(), length, Sha256::Path::Portable));
        ASSERT_EQ(HexText(Sha256Of(data.data(), length, GetParam())), portable) << "length " << length;

        Sha256 sha(GetParam());
        size_t offset = 0;
        for (size_t i = length % 9; offset < length; i = (i + 1) % 9) {
            const size_t piece = std::min(pieces[i], length - offset);
            sha.Update(data.data() + offset, piece);
            offset += piece;
        }
        ASSERT_EQ(HexText(sha.Finish()), portable) << "length " << length << " in uneven pieces";
    }
}

TEST(Sha256Paths, AutoPrefersShaExtensionsThenAvx2AndAMissingPathFallsBackToPortable) {
    using P = Sha256::Path;
    struct Case { P requested; bool sha; bool avx2; P expected; };
    const Case cases[] = {
        { P::Auto, true, true, P::ShaExtensions },
        { P::Auto, true, false, P::ShaExtensions },
        { P::Auto, false, true, P::Avx2 },
        { P::Auto, false, false, P::Portable },
        { P::ShaExtensions, true, false, P::ShaExtensions },
        { P::ShaExtensions, false, true, P::Portable },
        { P::Avx2, true, true, P::Avx2 },
        { P::Avx2, true, false, P::Portable },
        { P::Portable, true, true, P::Portable },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseSha256Path(c.requested, c.sha, c.avx2), c.expected)
            << PathName(c.requested) << " with SHA extensions " << c.sha << ", AVX2 " << c.avx2;
    }
    // This processor: Auto runs what the choice gives for what it has.
    EXPECT_EQ(Sha256().ActivePath(),
              ChooseSha256Path(Sha256::Path::Auto, Sha256::ShaExtensionsAvailable(), Sha256::Avx2Available()));
}

// One 100 MB file, digested through the file reader with each block function.
class LargeFileDigest : public testing::TestWithParam<Sha256::Path> {
protected:
    void SetUp() override {
        if (!Available(GetParam())) GTEST_SKIP() << "processor without the " << PathName(GetParam()) << " path";
    }
    static void SetUpTestSuite() {
        dir_ = new TempDir(L"sha");
        path_ = new std::wstring(*dir_ / L"large.bin");
        std::mt19937 random(7);
        std::vector<uint8_t> chunk(1 << 20);
        Sha256 expected(Sha256::Path::Portable);
        HANDLE file = ::CreateFileW(path_->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        for (int i = 0; i < 100; ++i) {
            for (auto& byte : chunk) byte = static_cast<uint8_t>(random() >> 11);
            // One odd tail so that the size is no multiple of the read chunk or the block.
            const DWORD size = static_cast<DWORD>(i == 99 ? chunk.size() - 13 : chunk.size());
            DWORD written = 0;
            ::WriteFile(file, chunk.data(), size, &written, nullptr);
            expected.Update(chunk.data(), size);
        }
        ::CloseHandle(file);
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

INSTANTIATE_TEST_SUITE_P(EveryBlockFunction, LargeFileDigest, testing::ValuesIn(kPaths), ParamName);

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
