#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/flash_commands.h"
#include "cli/platform.h"
#include "cli/text_encoding.h"
#include "update/run_texts.h"

int ListTesters() {
    const std::vector<AttachedTester> testers = ListAttachedTesters();
    for (const AttachedTester& tester : testers) {
        Write(Stream::Out, tester.serial + "\t" + DeviceLocation(tester) + "\n");
    }
    if (testers.empty()) {
        Write(Stream::Err, Utf8FromUtf16(RunTextOf(RunText::NoTesterMessage)));
        return AsInt(ExitCode::NoTester);
    }
    return AsInt(ExitCode::Done);
}
