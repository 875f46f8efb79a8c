// The simulated tester's behaviour, without timing of the line: its running firmware, its
// bootloader, and the image the bootloader has been given.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// Defaults kept out of the member initialisers, whose brace lists GCC 12 mistakes for
// uninitialised memory when optimising.
inline const std::vector<std::uint8_t> DEFAULT_PROBE_REPLY = {0x0A};
inline const std::vector<std::uint8_t> DEFAULT_BOOTLOADER_IDENTIFY_REPLY = {0x01, 0xB0};

struct TesterBehaviour {
    std::uint8_t hardwareCode = 20;
    std::uint8_t firmwareTenths = 38;
    // Revision-1 firmware knows only the probe.
    bool answersIdentify = true;
    bool answersProbe = true;
    std::vector<std::uint8_t> probeReply = DEFAULT_PROBE_REPLY;
    bool answersEnterBootloader = true;
    // A tester already in its bootloader answers identify with a reply of another length.
    bool startsInBootloader = false;
    std::vector<std::uint8_t> bootloaderIdentifyReply = DEFAULT_BOOTLOADER_IDENTIFY_REPLY;
    // What the readiness query reports once programming has been announced; 0 is ready.
    std::uint16_t readyStatus = 0;

    std::int64_t answerNs = 1'000'000;             // from a request's last byte to its reply
    std::int64_t bootloaderStartNs = 500'000'000;  // deaf while switching into the bootloader
    std::int64_t eraseNs = 200'000'000;            // before the start command is answered
    std::int64_t restartAfterProgrammingNs = 5'000'000'000;

    bool operator==(const TesterBehaviour&) const = default;
};

enum class TesterMode { Firmware, Bootloader };

// What the bootloader holds, for the verdict on a programming run.
struct ProgrammedImage {
    bool announced = false;
    std::uint32_t announcedLength = 0;
    std::vector<std::uint8_t> received;
    bool complete = false;
    // The CRC-32 trailer matched the bytes ahead of it.
    bool crcGood = false;
    // Images written whole and verified since the scenario began.
    int verifiedCount = 0;
};

struct TesterReply {
    std::vector<std::uint8_t> payload;
    std::int64_t readyAt = 0;
};

struct TesterModel {
    TesterBehaviour behaviour;
    TesterMode mode = TesterMode::Firmware;
    std::int64_t deafUntil = 0;
    std::optional<TesterMode> nextMode;
    std::int64_t nextModeAt = 0;
    std::uint16_t nextBlock = 0;
    ProgrammedImage image;
};

void ResetTester(TesterModel& tester, const TesterBehaviour& behaviour);

// The tester's answer to one well-formed request frame whose last byte arrived at `arrivalNs`;
// none when it stays silent.
std::optional<TesterReply> HandleRequest(TesterModel& tester,
                                         const std::vector<std::uint8_t>& payload,
                                         std::int64_t arrivalNs);

// Bitwise CRC-32 (ISO-HDLC), kept apart from the updater's table-driven one so that each checks
// the other.
std::uint32_t ReferenceCrc32(const std::uint8_t* bytes, std::size_t length);
