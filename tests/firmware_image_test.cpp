#include "update/firmware_image.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "sim/tester_model.h"
#include "tests/support/sim_fixture.h"
#include "update/crc32.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Ascii(const char* text) {
    return Bytes(text, text + std::strlen(text));
}

TEST(Crc32, MatchesTheStandardCheckValue) {
    BuildCrc32Table();
    const Bytes digits = Ascii("123456789");
    EXPECT_EQ(Crc32(digits.data(), digits.size()), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}

TEST(Crc32, TableEqualsTheReflectedPolynomialTable) {
    BuildCrc32Table();
    for (std::uint32_t i = 0; i < 256; ++i) {
        // Eight right shifts of i, XORing the reflected polynomial when a one falls out.
        std::uint32_t entry = i;
        for (int step = 0; step < 8; ++step) {
            entry = (entry & 1u) ? (entry >> 1) ^ 0xEDB88320u : entry >> 1;
        }
        ASSERT_EQ(Crc32Table[i], entry) << "entry " << i;
    }
    EXPECT_EQ(Crc32Table[0], 0u);
    EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
}

TEST(Crc32, AgreesWithABitwiseCrcOverManyLengths) {
    BuildCrc32Table();
    const Bytes data = PatternBytes(1031, 7);
    for (std::size_t length : {1u, 2u, 3u, 63u, 64u, 65u, 1031u}) {
        EXPECT_EQ(Crc32(data.data(), length), ReferenceCrc32(data.data(), length)) << length;
    }
}

struct ImageCase {
    const char* name;
    Bytes file;
    Bytes image;  // expected whole image, CRC trailer included
};

TEST(CompleteFirmwareImage, PadsToEvenLengthAndAppendsTheCrc) {
    const ImageCase cases[] = {
        {"abc: odd, one pad byte", Ascii("abc"), {0x61, 0x62, 0x63, 0xFF, 0xDD, 0x87, 0x5F, 0x8A}},
        {"empty file: CRC of nothing is zero", {}, {0x00, 0x00, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        Bytes buffer = c.file;
        buffer.resize(c.file.size() + 5, 0xEE);
        const std::uint32_t total =
            CompleteFirmwareImage(buffer.data(), static_cast<std::uint32_t>(c.file.size()));
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + total), c.image) << c.name;
    }
}

TEST(CompleteFirmwareImage, EvenFilesGetNoPadAndOddFilesExactlyOne) {
    for (std::uint32_t size : {1u, 2u, 191u, 192u, 4095u, 4096u}) {
        Bytes buffer = PatternBytes(size);
        buffer.resize(size + 5, 0xEE);
        const std::uint32_t total = CompleteFirmwareImage(buffer.data(), size);
        const std::uint32_t padded = size + size % 2;
        ASSERT_EQ(total, padded + 4) << size;
        if (size % 2 != 0) {
            EXPECT_EQ(buffer[size], 0xFF) << size;
        }
        const std::uint32_t crc = ReferenceCrc32(buffer.data(), padded);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(buffer[padded + i], static_cast<std::uint8_t>(crc >> (8 * i))) << size;
        }
    }
}

class LoadFirmwareImageTest : public SimFixture {
  protected:
    ImageLoadResult Load(HardwareRevision revision) {
        image_ = FirmwareImage{};
        return LoadFirmwareImage(revision, image_);
    }

    FirmwareImage image_;
};

struct RevisionFileCase {
    HardwareRevision revision;
    // The file looked for beside the executable.
    const char16_t* file;
};

void PrintTo(const RevisionFileCase& c, std::ostream* os) {
    *os << "revision code " << int{c.revision};
}

class RevisionFileTest : public LoadFirmwareImageTest,
                         public testing::WithParamInterface<RevisionFileCase> {};

TEST_P(RevisionFileTest, PicksTheFileForTheRevisionBesideTheExecutable) {
    EXPECT_EQ(Load(GetParam().revision), ImageLoadResult::FileNotFound);
    ASSERT_EQ(TestFolder().openedPaths.size(), 1u);
    EXPECT_EQ(TestFolder().openedPaths[0], BesideExecutable(GetParam().file));
}

INSTANTIATE_TEST_SUITE_P(Revisions, RevisionFileTest,
                         testing::Values(RevisionFileCase{20, u"VIVAD-h2.0.bin"},
                                         RevisionFileCase{10, u"VIVAD-h1.0.bin"},
                                         RevisionFileCase{0, u"VIVAD-h1.0.bin"},
                                         RevisionFileCase{19, u"VIVAD-h1.0.bin"},
                                         RevisionFileCase{21, u"VIVAD-h1.0.bin"},
                                         RevisionFileCase{255, u"VIVAD-h1.0.bin"}),
                         [](const testing::TestParamInfo<RevisionFileCase>& info) {
                             return "Code" + std::to_string(info.param.revision);
                         });

TEST_F(LoadFirmwareImageTest, BuildsTheImageInTheProcessWideBuffer) {
    PutFirmwareFile(u"VIVAD-h1.0.bin", Ascii("abc"));
    ASSERT_EQ(Load(10), ImageLoadResult::Loaded);
    EXPECT_EQ(image_.bytes, FirmwareImageBuffer);
    EXPECT_EQ(Bytes(image_.bytes, image_.bytes + image_.totalLength),
              Bytes({0x61, 0x62, 0x63, 0xFF, 0xDD, 0x87, 0x5F, 0x8A}));
    EXPECT_EQ(TestFolder().openCount, 0) << "the file is closed before anything is sent";
    FreeFirmwareImage();
    EXPECT_EQ(FirmwareImageBuffer, nullptr);
}

struct FileProblemCase {
    const char* name;
    MemoryFile file;
    ImageLoadResult expected;
};

void PrintTo(const FileProblemCase& c, std::ostream* os) {
    *os << c.name;
}

// A readable file of 1000 bytes with one thing wrong with it.
MemoryFile FileWith(MemoryFile problem) {
    problem.bytes = PatternBytes(1000);
    return problem;
}

const FileProblemCase FILE_PROBLEM_CASES[] = {
    {"HeldOpenElsewhere", FileWith({.openFails = true}), ImageLoadResult::FileNotFound},
    {"SizeUnknown", FileWith({.sizeFails = true}), ImageLoadResult::FileUnreadable},
    {"FourGiB", FileWith({.reportedSize = 1ull << 32}), ImageLoadResult::FileUnreadable},
    {"JustUnderFourGiB", FileWith({.reportedSize = 0xFFFFFFFFull}),
     ImageLoadResult::TooLongToNumber},
    {"OneBytePastTheLongestNumberableImage", FileWith({.reportedSize = 12582717}),
     ImageLoadResult::TooLongToNumber},
    {"ReadFails", FileWith({.readFails = true}), ImageLoadResult::FileUnreadable},
    {"ReadComesUpShort", FileWith({.deliverOnly = 999}), ImageLoadResult::FileUnreadable},
    {"ReadDeliversNothing", FileWith({.deliverOnly = 0}), ImageLoadResult::FileUnreadable},
};

class FileProblemTest : public LoadFirmwareImageTest,
                        public testing::WithParamInterface<FileProblemCase> {};

TEST_P(FileProblemTest, EndsWithItsOwnResultAndLeavesNoBuffer) {
    PutFirmwareFile(u"VIVAD-h2.0.bin", GetParam().file);
    EXPECT_EQ(Load(20), GetParam().expected);
    EXPECT_EQ(FirmwareImageBuffer, nullptr);
    EXPECT_EQ(TestFolder().openCount, 0) << "file left open";
}

INSTANTIATE_TEST_SUITE_P(Files, FileProblemTest, testing::ValuesIn(FILE_PROBLEM_CASES),
                         testing::PrintToStringParamName());

TEST_F(LoadFirmwareImageTest, MissingFileIsNotFound) {
    PutFirmwareFile(u"VIVAD-h1.0.bin", PatternBytes(10));
    EXPECT_EQ(Load(20), ImageLoadResult::FileNotFound);
    EXPECT_EQ(FirmwareImageBuffer, nullptr);
}

// 300 units with the terminating zero: the folder may take 285 units beside a 14-unit name.
std::u16string ExecutableIn(std::size_t folderLength) {
    std::u16string folder = u"C:\\";
    folder.append(folderLength - 4, u'd');
    folder += u'\\';
    return folder + u"vivad-updater.exe";
}

struct PathCase {
    const char* name;
    std::u16string executable;
    ImageLoadResult expected;
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.name;
}

const PathCase PATH_CASES[] = {
    {"FolderOf285UnitsFits", ExecutableIn(285), ImageLoadResult::Loaded},
    {"FolderOf286UnitsIsNotTried", ExecutableIn(286), ImageLoadResult::FileNotFound},
    // No path at all, and a path with no folder, whose bare name would be looked for in the
    // current directory.
    {"NoExecutablePath", u"", ImageLoadResult::FileNotFound},
    {"ExecutablePathWithoutAFolder", u"vivad-updater.exe", ImageLoadResult::FileNotFound},
};

class FirmwarePathTest : public LoadFirmwareImageTest,
                         public testing::WithParamInterface<PathCase> {};

TEST_P(FirmwarePathTest, PathsThatCannotBeFormedWholeAreNotTried) {
    const PathCase& c = GetParam();
    TestFolder().executablePath = c.executable;
    // The file is there, beside the executable or by its bare name, whatever the path's fate.
    PutFirmwareFile(u"VIVAD-h1.0.bin", PatternBytes(10));
    EXPECT_EQ(Load(10), c.expected);
    if (c.expected == ImageLoadResult::Loaded) {
        EXPECT_EQ(TestFolder().openedPaths,
                  std::vector<std::u16string>({BesideExecutable(u"VIVAD-h1.0.bin")}));
    } else {
        EXPECT_TRUE(TestFolder().openedPaths.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Executables, FirmwarePathTest, testing::ValuesIn(PATH_CASES),
                         testing::PrintToStringParamName());

#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ADDRESS_SANITIZER 1
#endif
#endif

TEST_F(LoadFirmwareImageTest, ABufferThatCannotBeAllocatedIsAReadFailure) {
#if defined(UNDER_ADDRESS_SANITIZER)
    GTEST_SKIP() << "the address sanitizer's allocator ignores the address-space limit";
#else
    MemoryFile file;
    // The longest numberable image, readable whole: only the allocation can fail.
    file.bytes.resize(12582716);
    PutFirmwareFile(u"VIVAD-h2.0.bin", file);
    // In a child process whose address space has no room left for the buffer.
    const auto loadWithLimitedMemory = [this] {
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) {
            std::exit(2);
        }
        std::fclose(statm);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max =
            static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (4u << 20);
        setrlimit(RLIMIT_AS, &limit);
        const bool unreadable = Load(20) == ImageLoadResult::FileUnreadable;
        std::exit(unreadable && FirmwareImageBuffer == nullptr ? 0 : 1);
    };
    EXPECT_EXIT(loadWithLimitedMemory(), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
