// The faults the simulated line can inject, listed once: the enumeration, the names that scenario
// files and test reports use, and the table that sweeps and soaks draw from all come from the
// one list below, so that a kind added here is at once nameable, parsed and swept.
#pragma once

#include <cstddef>
#include <iterator>
#include <optional>
#include <string_view>

// Each entry is the kind's name, which is also its name in scenario files.
#define SIM_FAULT_KINDS(X)                                                                   \
    X(DropReply)           /* the tester's reply never reaches the PC */                     \
    X(LateReply)           /* the reply comes lateByNs after it would have */                \
    X(CutReply)            /* only the first half of the reply frame arrives */              \
    X(StrayBytesFirst)     /* noise and a false STX ahead of the reply */                    \
    X(PreviousBlockNumber) /* a block acknowledgement carries the number before */           \
    X(NotReadyStatus)      /* the readiness reply reports status 256 */                      \
    X(EmptyReply)          /* the reply frame carries no payload at all */                   \
    X(WrongOpcode)         /* the reply's first payload byte is changed */                   \
    X(CorruptRequest)      /* the request's checksum is damaged on the way; it is ignored */ \
    X(Unplug)              /* the tester is gone from this request on */                     \
    X(GarbageStream)       /* the tester babbles without end, never a whole frame */

enum class FaultKind {
#define SIM_FAULT_KIND_ENUMERATOR(name) name,
    SIM_FAULT_KINDS(SIM_FAULT_KIND_ENUMERATOR)
#undef SIM_FAULT_KIND_ENUMERATOR
};

struct FaultKindEntry {
    FaultKind kind;
    std::string_view name;
};

// Every kind, in the enumeration's order.
inline constexpr FaultKindEntry FAULT_KINDS[] = {
#define SIM_FAULT_KIND_ENTRY(name) {FaultKind::name, #name},
    SIM_FAULT_KINDS(SIM_FAULT_KIND_ENTRY)
#undef SIM_FAULT_KIND_ENTRY
};
inline constexpr std::size_t FAULT_KIND_COUNT = std::size(FAULT_KINDS);

constexpr std::string_view FaultKindName(FaultKind kind) {
    const auto index = static_cast<std::size_t>(kind);
    return index < FAULT_KIND_COUNT ? FAULT_KINDS[index].name : std::string_view("?");
}

// The kind a scenario file names, compared exactly; none for an unknown name.
constexpr std::optional<FaultKind> FaultKindNamed(std::string_view name) {
    for (const FaultKindEntry& entry : FAULT_KINDS) {
        if (entry.name == name) {
            return entry.kind;
        }
    }
    return std::nullopt;
}
