#include "sim/tester_model.h"

#include <algorithm>
#include <cstring>

namespace {

// The tester's own command set, deliberately not taken from update/tester_commands.h: the model
// is the updater's counterpart, so a wrong opcode or limit in the updater has to meet a tester
// that does not understand it and fail the exchange, rather than a copy that agrees with it.
constexpr std::uint8_t OP_IDENTIFY = 0x01;
constexpr std::uint8_t OP_PROBE_REV1 = 0x0A;
constexpr std::uint8_t OP_ENTER_BOOTLOADER = 0xFD;
constexpr std::uint8_t OP_START_PROGRAMMING = 0xFE;
constexpr std::uint8_t OP_BLOCK = 0xFF;
constexpr std::uint16_t READY_QUERY = 0xFFFF;
constexpr std::size_t BLOCK_BYTES = 192;
constexpr std::uint16_t NOT_ANNOUNCED_STATUS = 1;

TesterReply Reply(std::vector<std::uint8_t> payload, std::int64_t readyAt) {
    return TesterReply{std::move(payload), readyAt};
}

std::vector<std::uint8_t> NumberReply(std::uint16_t number) {
    return {OP_BLOCK, static_cast<std::uint8_t>(number & 0xFF),
            static_cast<std::uint8_t>(number >> 8)};
}

void SwitchModeAt(TesterModel& tester, TesterMode mode, std::int64_t at) {
    tester.nextMode = mode;
    tester.nextModeAt = at;
    tester.deafUntil = at;
}

std::optional<TesterReply> HandleFirmware(TesterModel& tester,
                                          const std::vector<std::uint8_t>& payload,
                                          std::int64_t readyAt) {
    const TesterBehaviour& b = tester.behaviour;
    switch (payload[0]) {
        case OP_IDENTIFY:
            if (b.answersIdentify) {
                return Reply({OP_IDENTIFY, b.hardwareCode, b.firmwareTenths}, readyAt);
            }
            break;
        case OP_PROBE_REV1:
            if (b.answersProbe) {
                return Reply(b.probeReply, readyAt);
            }
            break;
        case OP_ENTER_BOOTLOADER:
            SwitchModeAt(tester, TesterMode::Bootloader, readyAt + b.bootloaderStartNs);
            if (b.answersEnterBootloader) {
                return Reply({OP_ENTER_BOOTLOADER}, readyAt);
            }
            break;
        default:
            break;
    }
    return std::nullopt;
}

std::optional<TesterReply> Announce(TesterModel& tester, const std::vector<std::uint8_t>& payload,
                                    std::int64_t readyAt) {
    ProgrammedImage& image = tester.image;
    const bool wellFormed = payload.size() == 9 && std::memcmp(&payload[1], "ZVKD", 4) == 0;
    std::uint32_t length = 0;
    if (wellFormed) {
        for (int i = 0; i < 4; ++i) {
            length |= static_cast<std::uint32_t>(payload[5 + i]) << (8 * i);
        }
    }
    if (!wellFormed || length < 4 || length % 2 != 0) {
        return Reply({0x00}, readyAt);
    }
    image.announced = true;
    image.announcedLength = length;
    image.received.clear();
    image.complete = false;
    image.crcGood = false;
    tester.nextBlock = 0;
    return Reply({OP_START_PROGRAMMING, 0x00}, readyAt + tester.behaviour.eraseNs);
}

std::optional<TesterReply> ReceiveBlock(TesterModel& tester,
                                        const std::vector<std::uint8_t>& payload,
                                        std::int64_t readyAt) {
    ProgrammedImage& image = tester.image;
    const auto number = static_cast<std::uint16_t>(payload[1] | (payload[2] << 8));
    const std::size_t dataLength = payload.size() - 3;
    if (number == READY_QUERY && dataLength == 0) {
        return Reply(
            NumberReply(image.announced ? tester.behaviour.readyStatus : NOT_ANNOUNCED_STATUS),
            readyAt);
    }
    if (!image.announced) {
        return std::nullopt;
    }
    // A resend of the block just taken, after its acknowledgement went astray.
    if (tester.nextBlock > 0 && number == tester.nextBlock - 1) {
        return Reply(NumberReply(number), readyAt);
    }
    if (image.complete) {
        return std::nullopt;
    }
    const std::size_t offset = image.received.size();
    const std::size_t expected = std::min<std::size_t>(BLOCK_BYTES, image.announcedLength - offset);
    if (number != tester.nextBlock || dataLength != expected) {
        return Reply(NumberReply(tester.nextBlock), readyAt);
    }
    image.received.insert(image.received.end(), payload.begin() + 3, payload.end());
    ++tester.nextBlock;
    if (image.received.size() == image.announcedLength) {
        image.complete = true;
        const std::size_t body = image.announcedLength - 4;
        std::uint32_t trailer = 0;
        for (int i = 0; i < 4; ++i) {
            trailer |= static_cast<std::uint32_t>(image.received[body + i]) << (8 * i);
        }
        image.crcGood = ReferenceCrc32(image.received.data(), body) == trailer;
        if (image.crcGood) {
            ++image.verifiedCount;
        }
        // The bootloader starts the new firmware a while after the last acknowledgement, time
        // enough to acknowledge resends of the last block.
        tester.nextMode = TesterMode::Firmware;
        tester.nextModeAt = readyAt + tester.behaviour.restartAfterProgrammingNs;
    }
    return Reply(NumberReply(number), readyAt);
}

std::optional<TesterReply> HandleBootloader(TesterModel& tester,
                                            const std::vector<std::uint8_t>& payload,
                                            std::int64_t readyAt) {
    switch (payload[0]) {
        case OP_IDENTIFY:
            return Reply(tester.behaviour.bootloaderIdentifyReply, readyAt);
        case OP_ENTER_BOOTLOADER:
            return Reply({OP_ENTER_BOOTLOADER}, readyAt);
        case OP_START_PROGRAMMING:
            return Announce(tester, payload, readyAt);
        case OP_BLOCK:
            if (payload.size() >= 3) {
                return ReceiveBlock(tester, payload, readyAt);
            }
            break;
        default:
            break;
    }
    return std::nullopt;
}

}  // namespace

void ResetTester(TesterModel& tester, const TesterBehaviour& behaviour) {
    tester = TesterModel{};
    tester.behaviour = behaviour;
    tester.mode = behaviour.startsInBootloader ? TesterMode::Bootloader : TesterMode::Firmware;
}

std::optional<TesterReply> HandleRequest(TesterModel& tester,
                                         const std::vector<std::uint8_t>& payload,
                                         std::int64_t arrivalNs) {
    if (tester.nextMode && arrivalNs >= tester.nextModeAt) {
        tester.mode = *tester.nextMode;
        tester.nextMode.reset();
    }
    if (payload.empty() || arrivalNs < tester.deafUntil) {
        return std::nullopt;
    }
    const std::int64_t readyAt = arrivalNs + tester.behaviour.answerNs;
    return tester.mode == TesterMode::Firmware ? HandleFirmware(tester, payload, readyAt)
                                               : HandleBootloader(tester, payload, readyAt);
}

std::uint32_t ReferenceCrc32(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return ~crc;
}
