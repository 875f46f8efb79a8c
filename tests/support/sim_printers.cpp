#include "tests/support/sim_printers.h"

#include <cstdint>
#include <vector>

namespace {

void PrintBytes(const std::vector<std::uint8_t>& bytes, std::ostream* os) {
    *os << "{" << HexOf(bytes.data(), bytes.size()) << "}";
}

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

}  // namespace

void PrintTo(const SimDevice& d, std::ostream* os) {
    *os << "{serial \"" << d.serial << "\", open fails " << YesNo(d.openFails)
        << ", serial query fails " << YesNo(d.serialQueryFails) << ", serial unterminated "
        << YesNo(d.serialUnterminated) << ", tester " << YesNo(d.isTester) << "}";
}

void PrintTo(const LineFault& fault, std::ostream* os) {
    *os << FaultKindName(fault.kind);
    if (fault.kind == FaultKind::LateReply) {
        *os << " by " << fault.lateByNs << " ns";
    }
}

void PrintTo(const SimScenario& s, std::ostream* os) {
    *os << "\n  devices:";
    for (const SimDevice& d : s.devices) {
        *os << " ";
        PrintTo(d, os);
    }
    const TesterBehaviour& t = s.tester;
    *os << "\n  count query fails " << YesNo(s.countQueryFails) << ", keep call log "
        << YesNo(s.keepCallLog);
    *os << "\n  tester: hardware code " << int{t.hardwareCode} << ", firmware tenths "
        << int{t.firmwareTenths} << ", answers identify " << YesNo(t.answersIdentify)
        << ", answers probe " << YesNo(t.answersProbe) << ", probe reply ";
    PrintBytes(t.probeReply, os);
    *os << ", answers enter bootloader " << YesNo(t.answersEnterBootloader)
        << ", starts in bootloader " << YesNo(t.startsInBootloader)
        << ", bootloader identify reply ";
    PrintBytes(t.bootloaderIdentifyReply, os);
    *os << ", ready status " << t.readyStatus;
    *os << "\n  tester times (ns): answer " << t.answerNs << ", bootloader start "
        << t.bootloaderStartNs << ", erase " << t.eraseNs << ", restart after programming "
        << t.restartAfterProgrammingNs;
    const LineTiming& l = s.timing;
    *os << "\n  line: " << l.baudRate << " baud, " << l.bitsPerByte << " bits a byte, latency "
        << l.latencyNs << " ns, chip packet " << l.chipPacketBytes << " bytes, read overrun "
        << l.readOverrunNs << " ns";
    *os << "\n  faults:";
    if (s.faults.empty()) {
        *os << " none";
    }
    for (const auto& [request, fault] : s.faults) {
        *os << " " << request << " ";
        PrintTo(fault, os);
    }
    *os << "\n";
}
